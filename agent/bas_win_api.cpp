// The module of OS services: connectivity, the download primitive and the
// system directory.
#include "agent/bas_win_api.h"

namespace mb::basWinAPI {

namespace {

// Pumps the window while a request waits, as a listed file's progress
// display does: the pause state, a manifest or the notice can take as long
// as the time-outs allow, and a window left unpumped that long is "Not
// Responding" on Windows.
class KeepPumping : public platform::DownloadObserver {
 public:
  explicit KeepPumping(platform::WindowSystem& windows) : windows_(windows) {}
  void OnProgress(std::int64_t, std::int64_t) override { windows_.PumpMessages(); }

 private:
  platform::WindowSystem& windows_;
};

}  // namespace

bool IsOnline(platform::Platform& p) { return p.net->IsConnected(); }

bool DownloadFile(platform::Platform& p, const std::string& url, const std::string& local_path,
                  const platform::DownloadOptions& options) {
  KeepPumping pumping(*p.windows);
  platform::DownloadOptions o = options;
  if (o.observer == nullptr) o.observer = &pumping;
  if (p.net->Download(url, local_path, o) != platform::kDownloadOk) return false;
  p.windows->PumpMessages();
  return p.fs->IsOrdinaryFile(local_path);
}

std::string GetSystemDir(platform::Platform& p) { return p.process->SystemDir(); }

}  // namespace mb::basWinAPI
