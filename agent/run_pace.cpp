#include "agent/run_pace.h"

#include <algorithm>

#include "agent/pause_state.h"

namespace mb {
namespace {

int Spread(int ms, std::uint32_t random) {
  const int tenth = ms / 10;
  return ms - tenth + static_cast<int>(random % static_cast<std::uint32_t>(2 * tenth + 1));
}

}  // namespace

int NextRunIntervalMs(RunEnd end, std::optional<int> poll_seconds, int failed_before,
                      std::uint32_t random) {
  if (!poll_seconds) return kReRunIntervalMs;
  if (end == RunEnd::kNothingToDo) return PollIntervalMs(*poll_seconds, random);
  const long long poll_ms = static_cast<long long>(*poll_seconds) * 1000;
  long long backoff = kReRunIntervalMs;
  for (int i = 0; i < failed_before && backoff < poll_ms; ++i) backoff *= 2;
  if (backoff >= poll_ms) return PollIntervalMs(*poll_seconds, random);
  return Spread(static_cast<int>(backoff), random);
}

}  // namespace mb
