// The module of OS services: connectivity, the download primitive and the
// system directory.
#include "agent/bas_win_api.h"

namespace mb::basWinAPI {

bool IsOnline(platform::Platform& p) { return p.net->IsConnected(); }

bool DownloadFile(platform::Platform& p, const std::string& url, const std::string& local_path,
                  const platform::DownloadOptions& options) {
  if (p.net->Download(url, local_path, options) != platform::kDownloadOk) return false;
  p.windows->PumpMessages();
  return p.fs->IsOrdinaryFile(local_path);
}

std::string GetSystemDir(platform::Platform& p) { return p.process->SystemDir(); }

}  // namespace mb::basWinAPI
