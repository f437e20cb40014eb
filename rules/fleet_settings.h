// What a vendor publishes to pace its fleet, read by the agent and checked
// by the server with the same rules, so the server never publishes a value
// the agents would read otherwise than the vendor meant:
// - settings on the lines after the first CR of the pause file (the first
//   line, the state, is read as agents of every version read it), one
//   KEY=VALUE a line, the key in any letter case, spaces around key and
//   value ignored, the first line of a key counting, unknown keys ignored;
// - POLL=S there: whole seconds from 1 to 86400;
// - REPORTS=Y there: agents report what they install (any other value, or
//   none, is no);
// - ROLLOUT=P in a manifest's DOWNLOAD section: a whole number from 0 to 100.
#pragma once

#include <optional>
#include <string_view>

namespace mb::fleet {

inline constexpr int kMaxPollSeconds = 86400;
inline constexpr int kFullRollout = 100;

// A whole number in decimal digits only (no sign, no spaces) within
// [lo, hi]; nothing otherwise.
std::optional<int> WholeNumberIn(std::string_view text, int lo, int hi);

// The value of the first `key` line after the first CR of a pause file;
// nothing when there is none.
std::optional<std::string_view> PauseSetting(std::string_view pause_file, std::string_view key);

std::optional<int> PollSeconds(std::string_view value);
std::optional<int> RolloutShare(std::string_view value);
bool ReportsWanted(std::string_view value);

}  // namespace mb::fleet
