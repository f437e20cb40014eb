// Addresses the server listens on.
#pragma once

#include <sys/socket.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace mb::server {

// The address to listen on; a host name is looked up. Throws
// std::runtime_error when it is none.
sockaddr_storage ListenAddress(const std::string& host, int port);

// "127.0.0.1:9100" or "[::1]:9100": host and port (0 to 65535); nothing
// when the text is not of that form.
std::optional<std::pair<std::string, int>> SplitListenAddress(std::string_view address);

}  // namespace mb::server
