// Halting by itself: a staged release whose installs start failing is
// taken from the fleet before it reaches more machines. A pure function of
// the counts, so the rule is the same wherever the counts come from.
#pragma once

#include <cstdint>

#include "server/rollout/rollout_state.h"

namespace mb::server {

struct OutcomeCounts {
  std::uint64_t installed = 0;
  std::uint64_t failed = 0;
  bool operator==(const OutcomeCounts&) const = default;
};

// True once at least rule.min_reports installed+failed reports came in and
// more than rule.above_percent percent of them are failed.
bool ShouldHalt(const HaltRule& rule, const OutcomeCounts& counts);

// What came in since `base` was taken (counts never go down; a base above
// them counts as none).
OutcomeCounts Since(const OutcomeCounts& now, const OutcomeCounts& base);

}  // namespace mb::server
