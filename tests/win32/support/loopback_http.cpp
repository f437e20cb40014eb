#include "win32/support/loopback_http.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdexcept>

namespace mb::test {
namespace {

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

std::string ReadRequestPath(SOCKET s) {
  std::string head;
  char buf[1024];
  while (head.find("\r\n\r\n") == std::string::npos) {
    const int n = recv(s, buf, sizeof buf, 0);
    if (n <= 0) return {};
    head.append(buf, static_cast<std::size_t>(n));
  }
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
  closesocket(static_cast<SOCKET>(listener_));
  thread_.join();
  WSACleanup();
}

void LoopbackHttp::Set(const std::string& path, const std::string& raw_response) {
  std::lock_guard<std::mutex> lock(mu_);
  routes_[path] = raw_response;
}

std::string LoopbackHttp::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int LoopbackHttp::Requests(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = hits_.find(path);
  return it == hits_.end() ? 0 : it->second;
}

void LoopbackHttp::Serve() {
  for (;;) {
    SOCKET client = accept(static_cast<SOCKET>(listener_), nullptr, nullptr);
    if (client == INVALID_SOCKET) return;  // the listener was closed
    Answer(client);
  }
}

void LoopbackHttp::Answer(unsigned long long client) {
  const SOCKET s = static_cast<SOCKET>(client);
  const std::string path = ReadRequestPath(s);
  std::string response;
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++hits_[path];
    auto it = routes_.find(path);
    response = it != routes_.end() ? it->second : HttpResponse(404, "no such file");
  }
  std::size_t sent = 0;
  while (sent < response.size()) {
    const int n = send(s, response.data() + sent, static_cast<int>(response.size() - sent), 0);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  shutdown(s, SD_SEND);
  closesocket(s);
}

}  // namespace mb::test
