#include "server/rollout/halt_rule.h"

namespace mb::server {

bool ShouldHalt(const HaltRule& rule, const OutcomeCounts& counts) {
  const std::uint64_t reports = counts.installed + counts.failed;
  if (reports == 0 || reports < static_cast<std::uint64_t>(rule.min_reports)) return false;
  // failed / reports > above / 100, in whole numbers.
  return counts.failed * 100 > static_cast<std::uint64_t>(rule.above_percent) * reports;
}

OutcomeCounts Since(const OutcomeCounts& now, const OutcomeCounts& base) {
  return {now.installed > base.installed ? now.installed - base.installed : 0,
          now.failed > base.failed ? now.failed - base.failed : 0};
}

}  // namespace mb::server
