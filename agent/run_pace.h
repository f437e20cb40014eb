// How long the agent waits before its next run, by how the run ended.
// Without POLL in the pause file every run is followed by the next 500 ms
// later, as ever. With POLL=S a run with nothing to do waits S seconds, and
// a failed run backs off: 500 ms after the first failure, twice as long
// after each further one in a row, never more than S seconds. Each wait is
// spread by up to 10 % either way, so agents that failed together do not
// come back together.
#pragma once

#include <cstdint>
#include <optional>

namespace mb {

enum class RunEnd {
  // Nothing that a new run could mend: up to date, held back from a staged
  // release, a refused release, a plan only a new release can mend.
  kNothingToDo,
  // A new run may do better: a download failed, a file was in use, an error.
  kFailed,
};

inline constexpr int kReRunIntervalMs = 500;

// `failed_before`: the failed runs in a row before this one.
int NextRunIntervalMs(RunEnd end, std::optional<int> poll_seconds, int failed_before,
                      std::uint32_t random);

}  // namespace mb
