// A loopback HTTP server for fault tests. It answers the targets a test
// publishes, exactly, and can be told to misbehave on any of them: reset the
// connection mid-body, close short of its Content-Length, stream without
// end, drip one byte at a time, answer a status, redirect, or say nothing.
// It serves one connection at a time, like the agent asks: one at a time.
// Header-only, so the test binary's source list needs no entry for it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace mb::test {

enum class Fault {
  kNone,       // the body, as published
  kStatus,     // the given status with the body
  kReset,      // half the body, then a connection reset (RST)
  kShortBody,  // half the body, then a clean close short of Content-Length
  kStream,     // filler bytes: `announced` of them, or without end when -1
  kDrip,       // the body, one byte every drip_ms
  kRedirect,   // 302 to `location` (empty: the same target, a loop)
  kSilent,     // reads the request and never answers
  kRaw,        // `body` is the whole answer: status line, headers and body
};

struct Answer {
  Fault fault = Fault::kNone;
  int status = 200;
  std::string body;
  std::string location;
  std::int64_t announced = -1;
  int drip_ms = 0;
  std::string headers;  // more header lines ("Name: value\r\n" each)
};

// Answers by kind, so tests name what they want.
inline Answer Body(std::string body) {
  Answer a;
  a.body = std::move(body);
  return a;
}
inline Answer Broken(Fault fault, std::string body = "") {
  Answer a = Body(std::move(body));
  a.fault = fault;
  return a;
}
inline Answer Status(int status, std::string body = "error") {
  Answer a = Broken(Fault::kStatus, std::move(body));
  a.status = status;
  return a;
}
inline Answer Redirect(std::string location = "") {
  Answer a = Broken(Fault::kRedirect);
  a.location = std::move(location);
  return a;
}
inline Answer Stream(std::int64_t announced) {
  Answer a = Broken(Fault::kStream);
  a.announced = announced;
  return a;
}
// A body with validators, as a server that ignores ranges sends it.
inline Answer Tagged(Answer a, const std::string& etag) {
  a.headers += "ETag: " + etag + "\r\n";
  return a;
}
inline Answer Raw(std::string response) { return Broken(Fault::kRaw, std::move(response)); }
inline Answer Drip(std::string body, int drip_ms) {
  Answer a = Broken(Fault::kDrip, std::move(body));
  a.drip_ms = drip_ms;
  return a;
}

class HostileServer {
 public:
  HostileServer() {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        listen(listen_fd_, 16) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      throw std::runtime_error("hostile server: cannot listen");
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Loop(); });
  }
  ~HostileServer() {
    stop_ = true;
    thread_.join();
    close(listen_fd_);
  }
  HostileServer(const HostileServer&) = delete;
  HostileServer& operator=(const HostileServer&) = delete;

  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int Port() const { return port_; }

  void Set(const std::string& target, Answer answer) {
    std::lock_guard lock(mutex_);
    answers_[target] = std::move(answer);
  }
  void Serve(const std::string& target, const std::string& body) { Set(target, Body(body)); }
  void Remove(const std::string& target) {
    std::lock_guard lock(mutex_);
    answers_.erase(target);
  }
  std::vector<std::string> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  // The request heads (request line and headers), in the order they came.
  std::vector<std::string> Heads() const {
    std::lock_guard lock(mutex_);
    return heads_;
  }
  void ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
    heads_.clear();
  }

 private:
  void Loop() {
    while (!stop_) {
      pollfd p{listen_fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      Handle(fd);
    }
  }

  // The request target, or empty when no whole request head arrived.
  std::string ReadTarget(int fd, std::string& head) {
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536 && !stop_) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return "";
      head.append(buf, static_cast<std::size_t>(n));
    }
    const std::size_t sp1 = head.find(' ');
    const std::size_t sp2 = head.find(' ', sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos) return "";
    return head.substr(sp1 + 1, sp2 - sp1 - 1);
  }

  Answer Lookup(const std::string& target, const std::string& head) {
    std::lock_guard lock(mutex_);
    requests_.push_back(target);
    heads_.push_back(head.substr(0, head.find("\r\n\r\n")));
    const auto it = answers_.find(target);
    if (it == answers_.end()) return Status(404, "not published");
    return it->second;
  }

  bool Send(int fd, const char* data, std::size_t size) {
    while (size > 0 && !stop_) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return size == 0;
  }
  bool Send(int fd, const std::string& s) { return Send(fd, s.data(), s.size()); }

  static std::string Head(int status, std::int64_t length, const std::string& extra = "") {
    std::string h = "HTTP/1.1 " + std::to_string(status) + (status < 400 ? " OK" : " Error") +
                    "\r\nConnection: close\r\nContent-Type: application/octet-stream\r\n" + extra;
    if (length >= 0) h += "Content-Length: " + std::to_string(length) + "\r\n";
    return h + "\r\n";
  }

  // Waits (up to ms, or until the server stops) for the client to hang up.
  void WaitForHangUp(int fd, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    char buf[256];
    while (!stop_ && std::chrono::steady_clock::now() < end) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 10) > 0 && recv(fd, buf, sizeof buf, 0) <= 0) return;
    }
  }

  void Handle(int fd) {
    std::string head;
    const std::string target = ReadTarget(fd, head);
    if (!target.empty()) Respond(fd, target, Lookup(target, head));
    close(fd);
  }

  void Respond(int fd, const std::string& target, const Answer& a) {
    const auto size = static_cast<std::int64_t>(a.body.size());
    const std::size_t half = a.body.size() / 2;
    switch (a.fault) {
      case Fault::kNone:
      case Fault::kStatus:
        Send(fd, Head(a.status, size, a.headers) + a.body);
        return;
      case Fault::kRaw:
        Send(fd, a.body);
        return;
      case Fault::kReset: {
        Send(fd, Head(200, size, a.headers) + a.body.substr(0, half));
        const linger hard{1, 0};  // close() now sends a RST
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        return;
      }
      case Fault::kShortBody:
        Send(fd, Head(200, size, a.headers) + a.body.substr(0, half));
        shutdown(fd, SHUT_WR);
        WaitForHangUp(fd, 5000);
        return;
      case Fault::kStream:
        return Stream(fd, a.announced);
      case Fault::kDrip:
        return Drip(fd, a);
      case Fault::kRedirect:
        Send(fd, Head(302, 0, "Location: " + (a.location.empty() ? target : a.location) + "\r\n"));
        return;
      case Fault::kSilent:
        WaitForHangUp(fd, 600000);
        return;
    }
  }

  void Stream(int fd, std::int64_t announced) {
    if (!Send(fd, Head(200, announced))) return;
    const std::string filler(64 * 1024, 'x');
    for (std::int64_t sent = 0; announced < 0 || sent < announced;) {
      const auto n = static_cast<std::size_t>(
          announced < 0
              ? filler.size()
              : std::min<std::int64_t>(announced - sent, static_cast<std::int64_t>(filler.size())));
      if (!Send(fd, filler.data(), n)) return;
      sent += static_cast<std::int64_t>(n);
    }
  }

  void Drip(int fd, const Answer& a) {
    if (!Send(fd, Head(200, static_cast<std::int64_t>(a.body.size())))) return;
    for (char c : a.body) {
      if (!Send(fd, &c, 1)) return;
      WaitForHangUp(fd, a.drip_ms);
      if (stop_) return;
    }
  }

  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::map<std::string, Answer> answers_;
  std::vector<std::string> requests_;
  std::vector<std::string> heads_;
};

}  // namespace mb::test
