// Connectivity and downloads through WinINet.
//
// URLDownloadToFile is not used: it stores whatever body the server sends,
// so a 404 error page would land at the destination as if it were the file,
// and it offers no size limit or stall timeout. WinINet lets the download
// check the HTTP status, bound the size and the redirects, and bypass the
// cache, while the body goes to a temporary file that replaces the
// destination only once it is complete.
//
// One WinINet session serves the process, so its connections stay open
// between downloads, for as long as the server keeps them, as the Windows
// download functions do. The blocking calls run on a CallThread while the
// caller enforces the connect, stall and rate limits and keeps reporting to
// the observer, which pumps the agent's window.
#pragma once

#include "platform/network.h"
#include "platform/win32/win32_call_thread.h"
#include "platform/win32/win32_handle.h"

namespace mb::win32 {

class Win32Network : public platform::Network {
 public:
  Win32Network() = default;
  ~Win32Network() override;
  Win32Network(const Win32Network&) = delete;
  Win32Network& operator=(const Win32Network&) = delete;

  bool IsConnected() override;
  // One download at a time. A resumable one (options.partial) writes into
  // its partial file, going on after the bytes kept there when the answer
  // allows (Range and If-Range, platform/transfer_resume.h).
  long Download(const std::string& url, const std::string& path,
                const platform::DownloadOptions& options) override;

 private:
  long DownloadKept(const std::string& url, const std::wstring& dest,
                    const platform::DownloadOptions& options, UniqueHandle& kept);

  void* session_ = nullptr;  // HINTERNET of InternetOpen, made on first use
  CallThread calls_;
};

}  // namespace mb::win32
