// Connectivity and downloads through WinINet.
//
// URLDownloadToFile is not used: it stores whatever body the server sends,
// so a 404 error page would land at the destination as if it were the file,
// and it offers no size limit or stall timeout. WinINet lets the download
// check the HTTP status, bound the size and the redirects, and bypass the
// cache, while the body goes to a temporary file that replaces the
// destination only once it is complete.
#pragma once

#include "platform/network.h"

namespace mb::win32 {

class Win32Network : public platform::Network {
 public:
  bool IsConnected() override;
  long Download(const std::string& url, const std::string& path,
                const platform::DownloadOptions& options) override;
};

}  // namespace mb::win32
