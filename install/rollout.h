// Staged rollout. A release whose manifest carries ROLLOUT=P (0 to 100) in
// its DOWNLOAD section goes only to the installations whose own number, 0
// to 99, drawn once and kept in the registry, is below P: the same machines
// take it at the same P, and every machine that took it at 25 takes it at
// 60. A held-back component counts as up to date for the run. Absent or
// not a whole number from 0 to 100, ROLLOUT means 100: everyone.
#pragma once

#include <optional>
#include <string_view>

#include "rules/fleet_settings.h"

namespace mb {

inline constexpr int kFullRollout = fleet::kFullRollout;
inline constexpr int kRolloutSlots = 100;  // an installation's number is 0 .. 99
// The number of an installation that cannot keep one: the last to be
// given a release, so a machine that draws anew at every start is not
// given it sooner than the vendor chose.
inline constexpr int kUnkeptRolloutSlot = kRolloutSlots - 1;
// The registry value (under the product key) that keeps the number, as
// text 0 .. 99.
inline constexpr const char* kRolloutSlotValue = "RolloutSlot";

// P from the manifest's value as read (trimmed by the INI reader).
int RolloutPercent(std::string_view value);
// The kept number from the registry's text; nothing when absent or not a
// whole number from 0 to 99.
std::optional<int> KeptRolloutSlot(std::string_view text);
// Whether the installation with this number takes a release at `percent`.
bool TakesRelease(int percent, int slot);

}  // namespace mb
