// mb-fetch [--md5 HEX [--sha256 HEX]] URL PATH: downloads URL to PATH along
// the agent's own path for a release file (basWinAPI::DownloadFile over
// CurlNetwork, with the limits and a progress observer as for a release
// file), so its throughput and memory can be set beside `curl -o`. With
// --md5 it fetches and checks the file as the component pass does, the
// digests made while the bytes arrive (FetchWithDigests): the MD5 of an
// unsigned release, and with --sha256 also the SHA-256 of a signed one.
// Exit status 1 when the download fails or a digest differs.
#include <cstdint>
#include <cstdio>
#include <string>

#include "agent/bas_win_api.h"
#include "bench/bench_platform.h"
#include "install/arriving_digests.h"
#include "planning/transfer_limits.h"

namespace {

// Stands in for the progress window: takes every report, draws nothing.
class CountingObserver : public mb::platform::DownloadObserver {
 public:
  void OnProgress(std::int64_t, std::int64_t received) override {
    ++reports;
    last = received;
  }
  std::int64_t reports = 0;
  std::int64_t last = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::string md5, sha256;
  int at = 1;
  for (; at + 1 < argc && argv[at][0] == '-'; at += 2) {
    const std::string option = argv[at];
    if (option == "--md5")
      md5 = argv[at + 1];
    else if (option == "--sha256")
      sha256 = argv[at + 1];
    else
      break;
  }
  if (argc - at != 2 || (!sha256.empty() && md5.empty())) {
    std::fprintf(stderr, "usage: mb-fetch [--md5 HEX [--sha256 HEX]] URL PATH\n");
    return 2;
  }
  mb::bench::BenchPlatform platform(".");
  CountingObserver observer;
  const char* url = argv[at];
  const char* path = argv[at + 1];
  if (md5.empty()) {  // the download alone
    if (!mb::basWinAPI::DownloadFile(platform.p, url, path, mb::FileTransfer(&observer))) {
      std::fprintf(stderr, "mb-fetch: download of %s failed\n", url);
      return 1;
    }
  } else {
    const std::optional<mb::FileDigests> got = mb::FetchWithDigests(
        platform.p, url, path, &observer, sha256.empty() ? nullptr : &platform.crypto);
    if (!got) {
      std::fprintf(stderr, "mb-fetch: download of %s failed\n", url);
      return 1;
    }
    if (got->md5 != md5 || got->sha256 != sha256) {
      std::fprintf(stderr, "mb-fetch: digests differ (md5 %s, sha256 %s)\n", got->md5.c_str(),
                   got->sha256.c_str());
      return 1;
    }
  }
  std::fprintf(stderr, "mb-fetch: %lld bytes, %lld progress reports\n",
               static_cast<long long>(observer.last), static_cast<long long>(observer.reports));
  return 0;
}
