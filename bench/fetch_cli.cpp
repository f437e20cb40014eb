// mb-fetch URL PATH: downloads URL to PATH along the agent's own path for a
// release file (basWinAPI::DownloadFile over CurlNetwork, with the limits
// and a progress observer as for a release file), so its throughput and
// memory can be set beside `curl -o`.
#include <cstdint>
#include <cstdio>

#include "agent/bas_win_api.h"
#include "bench/bench_platform.h"
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
  if (argc != 3) {
    std::fprintf(stderr, "usage: mb-fetch URL PATH\n");
    return 2;
  }
  mb::bench::BenchPlatform platform(".");
  CountingObserver observer;
  const bool ok =
      mb::basWinAPI::DownloadFile(platform.p, argv[1], argv[2], mb::FileTransfer(&observer));
  if (!ok) {
    std::fprintf(stderr, "mb-fetch: download of %s failed\n", argv[1]);
    return 1;
  }
  std::fprintf(stderr, "mb-fetch: %lld bytes, %lld progress reports\n",
               static_cast<long long>(observer.last), static_cast<long long>(observer.reports));
  return 0;
}
