// A loopback TCP relay in front of a server, for tests that count the
// connections a client opens (bench/count_proxy.py is its twin for scripts).
// It can also cut every open connection, as a server does with idle
// keep-alive connections. Header-only, one thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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
    for (auto& [a, b] : pairs_) Close(a, b);
    close(listener_);
  }
  CountingRelay(const CountingRelay&) = delete;
  CountingRelay& operator=(const CountingRelay&) = delete;

  int Port() const { return port_; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int Connections() const { return accepted_; }

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
    pairs_.emplace_back(client, server);
  }

  // Moves what one side sent to the other; false when that side is done.
  static bool Pump(int from, int to) {
    char buf[16384];
    const ssize_t n = recv(from, buf, sizeof buf, 0);
    if (n <= 0) return false;
    for (ssize_t sent = 0; sent < n;) {
      const ssize_t m = send(to, buf + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
      if (m <= 0) return false;
      sent += m;
    }
    return true;
  }

  void Loop() {
    while (!stop_) {
      if (cuts_done_ < cuts_requested_) {
        for (auto& [a, b] : pairs_) Close(a, b);
        pairs_.clear();
        cuts_done_ = cuts_requested_.load();
      }
      std::vector<pollfd> fds{{listener_, POLLIN, 0}};
      for (auto& [a, b] : pairs_) {
        fds.push_back({a, POLLIN, 0});
        fds.push_back({b, POLLIN, 0});
      }
      if (poll(fds.data(), fds.size(), 10) <= 0) continue;
      if (fds[0].revents != 0) Accept();
      std::vector<std::pair<int, int>> open;
      for (std::size_t i = 0; i + 1 < fds.size(); i += 2) {
        const auto [a, b] = pairs_[i / 2];
        const bool alive =
            (fds[i + 1].revents == 0 || Pump(a, b)) && (fds[i + 2].revents == 0 || Pump(b, a));
        if (alive) {
          open.emplace_back(a, b);
        } else {
          Close(a, b);
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
  std::vector<std::pair<int, int>> pairs_;  // client, server; the loop's own
  std::thread thread_;
};

}  // namespace mb::test
