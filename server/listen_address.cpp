#include "server/listen_address.h"

#include <netdb.h>

#include <cstring>
#include <stdexcept>

namespace mb::server {

sockaddr_storage ListenAddress(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr)
    throw std::runtime_error("cannot listen on " + host + ": not an address");
  sockaddr_storage address{};
  std::memcpy(&address, found->ai_addr, found->ai_addrlen);
  freeaddrinfo(found);
  return address;
}

std::optional<std::pair<std::string, int>> SplitListenAddress(std::string_view address) {
  const std::size_t colon = address.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  std::string_view host = address.substr(0, colon);
  const std::string_view port = address.substr(colon + 1);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return std::nullopt;
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    return std::nullopt;  // an IPv6 address goes in brackets
  }
  if (port.empty() || port.size() > 5) return std::nullopt;
  int n = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n > 65535) return std::nullopt;
  return std::make_pair(std::string(host), n);
}

}  // namespace mb::server
