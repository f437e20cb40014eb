// Downloads over libcurl and connectivity from the process's own view of
// its network interfaces.
#pragma once

#include <string>

#include "platform/network.h"

namespace mb::posix {

class CurlNetwork : public platform::Network {
 public:
  CurlNetwork();  // initialises libcurl once per process

  // True when an interface other than loopback is up, running and holds an
  // IPv4 or IPv6 address, as seen from this process's network namespace.
  bool IsConnected() override;

  // Streams the body into a hidden temporary file beside the destination and
  // renames it over the destination only once the whole body has arrived.
  long Download(const std::string& url, const std::string& path,
                const platform::DownloadOptions& options) override;
};

}  // namespace mb::posix
