#include "win32/helpers/loopback_http.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <stdexcept>

namespace mb::test {
namespace {

constexpr int kPollMs = 20;  // how often a waiting thread looks at the stop flag

std::string StatusText(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 302:
      return "Found";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

bool Readable(SOCKET s, int ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  return select(0, &set, nullptr, nullptr, &tv) > 0;
}

bool SendAll(SOCKET s, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const int n = send(s, data.data() + sent, static_cast<int>(data.size() - sent), 0);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::string PathOf(const std::string& head) {
  const std::size_t a = head.find(' ');
  const std::size_t b = head.find(' ', a + 1);
  if (a == std::string::npos || b == std::string::npos) return {};
  return head.substr(a + 1, b - a - 1);
}

}  // namespace

std::string HttpResponse(int status, const std::string& body, const std::string& extra_headers) {
  return "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" +
         extra_headers + "\r\n" + body;
}

std::string KeptResponse(int status, const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

LoopbackHttp::LoopbackHttp() {
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) throw std::runtime_error("WSAStartup");
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(s, 16) != 0) {
    throw std::runtime_error("cannot listen on loopback");
  }
  int len = sizeof addr;
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  listener_ = s;
  thread_ = std::thread([this] { Serve(); });
}

LoopbackHttp::~LoopbackHttp() {
  stop_ = true;
  thread_.join();
  for (std::thread& client : clients_) client.join();
  closesocket(static_cast<SOCKET>(listener_));
  WSACleanup();
}

void LoopbackHttp::Set(const std::string& path, const std::string& raw_response) {
  std::lock_guard<std::mutex> lock(mu_);
  routes_[path] = Route{Route::kCanned, raw_response, 0};
}

void LoopbackHttp::Hold(const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  routes_[path] = Route{Route::kHold, "", 0};
}

void LoopbackHttp::Drip(const std::string& path, const std::string& body, int byte_ms) {
  std::lock_guard<std::mutex> lock(mu_);
  routes_[path] = Route{Route::kDrip, body, byte_ms};
}

void LoopbackHttp::Endless(const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  routes_[path] = Route{Route::kEndless, "", 0};
}

void LoopbackHttp::DropIdleConnections() {
  ++idle_drops_;
  for (int waited = 0; open_ > 0 && waited < 5000; waited += kPollMs) Sleep(kPollMs);
}

std::string LoopbackHttp::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string LoopbackHttp::LastHead(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = last_heads_.find(path);
  return it == last_heads_.end() ? "" : it->second;
}

int LoopbackHttp::Requests(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = hits_.find(path);
  return it == hits_.end() ? 0 : it->second;
}

void LoopbackHttp::Serve() {
  const SOCKET listener = static_cast<SOCKET>(listener_);
  while (!stop_) {
    if (!Readable(listener, kPollMs)) continue;
    const SOCKET client = accept(listener, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    ++connections_;
    ++open_;
    std::lock_guard<std::mutex> lock(mu_);
    clients_.emplace_back([this, client] { ServeConnection(client); });
  }
}

// Requests one after the other on one connection, until the client closes
// it, an answer closes it, or it is dropped while it waits for a request.
void LoopbackHttp::ServeConnection(unsigned long long client) {
  const SOCKET s = static_cast<SOCKET>(client);
  for (bool open = true; open;) {
    const int drops = idle_drops_;
    std::string head;
    while (open && head.find("\r\n\r\n") == std::string::npos) {
      open = !stop_ && (!head.empty() || idle_drops_ == drops);
      if (!open || !Readable(s, kPollMs)) continue;
      char buf[1024];
      const int n = recv(s, buf, sizeof buf, 0);
      open = n > 0;
      if (open) head.append(buf, static_cast<std::size_t>(n));
    }
    open = open && Answer(client, PathOf(head), head);
  }
  shutdown(s, SD_SEND);
  closesocket(s);
  --open_;
}

// Sends the answer; false when the connection is to be closed after it.
bool LoopbackHttp::Answer(unsigned long long client, const std::string& path,
                          const std::string& head) {
  const SOCKET s = static_cast<SOCKET>(client);
  Route route{Route::kCanned, HttpResponse(404, "no such file"), 0};
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++hits_[path];
    last_heads_[path] = head;
    auto it = routes_.find(path);
    if (it != routes_.end()) route = it->second;
  }
  if (route.kind == Route::kCanned) {
    return SendAll(s, route.response) &&
           route.response.find("Connection: close") == std::string::npos;
  }
  if (route.kind == Route::kDrip) {
    bool sent =
        SendAll(s, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(route.response.size()) +
                       "\r\nConnection: close\r\n\r\n");
    for (std::size_t i = 0; sent && i < route.response.size(); ++i) {
      sent = SendAll(s, route.response.substr(i, 1));
      for (int left = route.byte_ms; left > 0 && !stop_; left -= kPollMs) {
        Sleep(std::min(left, kPollMs));
      }
    }
    return false;
  }
  if (route.kind == Route::kEndless) {
    bool sent = SendAll(s, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    const std::string chunk = "4000\r\n" + std::string(0x4000, 'e') + "\r\n";
    while (sent && !stop_) {
      sent = SendAll(s, chunk);
      if (sent) endless_sent_ += 0x4000;
    }
    return false;
  }
  // Held: until the client hangs up or the server stops.
  char buf[256];
  while (!stop_) {
    if (Readable(s, kPollMs) && recv(s, buf, sizeof buf, 0) <= 0) break;
  }
  return false;
}

}  // namespace mb::test
