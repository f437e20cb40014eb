// A loopback TCP relay in front of a server, for tests that count the
// connections a client opens and the bytes they carry (bench/count_proxy.py
// is its twin for scripts). It can cut every open connection, as a server
// does with idle keep-alive connections; drop each connection once the
// server has sent so many bytes on it, as a link with a transfer limit
// does; and hold every answer once the server has sent so many bytes in
// all, to stop a client at a known point. Header-only, one thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace mb::test {

class CountingRelay {
 public:
  explicit CountingRelay(int target_port) : target_port_(target_port) {
    listener_ = Listen(&port_);
    thread_ = std::thread([this] { Loop(); });
  }
  ~CountingRelay() {
    stop_ = true;
    thread_.join();
    for (const Pair& p : pairs_) Close(p.client, p.server);
    close(listener_);
  }
  CountingRelay(const CountingRelay&) = delete;
  CountingRelay& operator=(const CountingRelay&) = delete;

  int Port() const { return port_; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int Connections() const { return accepted_; }
  // Bytes the server sent through the relay (set back by ResetCounts).
  std::int64_t ServerBytes() const { return server_bytes_; }
  void ResetCounts() { server_bytes_ = 0; }
  // Each connection is closed once the server sent `bytes` on it; 0: never.
  void CutEvery(std::int64_t bytes) { cut_every_ = bytes; }
  // No answer gets further once the server sent `bytes` in all (counted
  // from now); 0: never. Holding() tells when that point is reached.
  void HoldAfter(std::int64_t bytes) {
    hold_left_ = bytes;
    hold_ = bytes > 0;
  }
  bool Holding() const { return hold_ && hold_left_ == 0; }

  // Closes every open connection on both sides and waits until it is done.
  void CutAll() {
    ++cuts_requested_;
    while (cuts_done_ < cuts_requested_) std::this_thread::yield();
  }

 private:
  static int Listen(int* port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      throw std::runtime_error("relay: cannot listen");
    }
    *port = ntohs(addr.sin_port);
    return fd;
  }
  int ConnectToTarget() const {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(target_port_));
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }
  static void Close(int a, int b) {
    close(a);
    close(b);
  }

  void Accept() {
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    ++accepted_;
    const int server = ConnectToTarget();
    if (server < 0) {
      close(client);
      return;
    }
    pairs_.push_back({client, server});
  }

  struct Pair {
    int client;
    int server;
    std::int64_t from_server = 0;
  };

  // How much of the server's answer may pass now.
  std::size_t Allowed(const Pair& p, std::size_t want) const {
    std::int64_t allowed = static_cast<std::int64_t>(want);
    if (hold_) allowed = std::min<std::int64_t>(allowed, hold_left_);
    if (cut_every_ > 0) allowed = std::min(allowed, cut_every_ - p.from_server);
    return static_cast<std::size_t>(std::max<std::int64_t>(allowed, 0));
  }

  // The server's answer, as far as the link lets it; false when the
  // connection is done (or cut).
  bool PumpAnswer(Pair& p) {
    if (cut_every_ > 0 && p.from_server >= cut_every_) return false;  // the link drops
    if (Holding()) return true;
    char buf[16384];
    const std::size_t allowed = Allowed(p, sizeof buf);
    const ssize_t n = recv(p.server, buf, allowed, 0);
    if (n <= 0 || !Send(p.client, buf, n)) return false;
    p.from_server += n;
    server_bytes_ += n;
    if (hold_) hold_left_ -= n;
    return cut_every_ == 0 || p.from_server < cut_every_;
  }

  static bool Send(int to, const char* buf, ssize_t n) {
    for (ssize_t sent = 0; sent < n;) {
      const ssize_t m = send(to, buf + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
      if (m <= 0) return false;
      sent += m;
    }
    return true;
  }

  // Moves what one side sent to the other; false when that side is done.
  static bool Pump(int from, int to) {
    char buf[16384];
    const ssize_t n = recv(from, buf, sizeof buf, 0);
    if (n <= 0) return false;
    return Send(to, buf, n);
  }

  void Loop() {
    while (!stop_) {
      if (cuts_done_ < cuts_requested_) {
        for (const Pair& p : pairs_) Close(p.client, p.server);
        pairs_.clear();
        cuts_done_ = cuts_requested_.load();
      }
      std::vector<pollfd> fds{{listener_, POLLIN, 0}};
      for (const Pair& p : pairs_) {
        fds.push_back({p.client, POLLIN, 0});
        // A held answer is left where it is: nothing is read of it.
        fds.push_back({Holding() ? -1 : p.server, POLLIN, 0});
      }
      if (poll(fds.data(), fds.size(), 10) <= 0) continue;
      if (fds[0].revents != 0) Accept();
      std::vector<Pair> open;
      for (std::size_t i = 0; i + 1 < fds.size(); i += 2) {
        Pair p = pairs_[i / 2];
        const bool alive = (fds[i + 1].revents == 0 || Pump(p.client, p.server)) &&
                           (fds[i + 2].revents == 0 || PumpAnswer(p));
        if (alive) {
          open.push_back(p);
        } else {
          Close(p.client, p.server);
        }
      }
      // Pairs accepted in this round come after the polled ones.
      for (std::size_t i = (fds.size() - 1) / 2; i < pairs_.size(); ++i) open.push_back(pairs_[i]);
      pairs_ = std::move(open);
    }
  }

  int target_port_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<int> accepted_{0};
  std::atomic<int> cuts_requested_{0};
  std::atomic<int> cuts_done_{0};
  std::atomic<bool> stop_{false};
  std::atomic<std::int64_t> server_bytes_{0};
  std::atomic<std::int64_t> cut_every_{0};
  std::atomic<std::int64_t> hold_left_{0};
  std::atomic<bool> hold_{false};
  std::vector<Pair> pairs_;  // the loop's own
  std::thread thread_;
};

}  // namespace mb::test
