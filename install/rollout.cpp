#include "install/rollout.h"

#include "rules/fleet_settings.h"
#include "support/text.h"

namespace mb {

int RolloutPercent(std::string_view value) {
  return fleet::RolloutShare(value).value_or(kFullRollout);
}

std::optional<int> KeptRolloutSlot(std::string_view text) {
  return fleet::WholeNumberIn(text::Clean(text), 0, kRolloutSlots - 1);
}

bool TakesRelease(int percent, int slot) { return percent >= kFullRollout || slot < percent; }

}  // namespace mb
