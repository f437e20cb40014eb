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
// - ROLLOUT:<FOLDER>/<COMPONENT>=<P> <RELEASE> there: the share P of the
//   release RELEASE (its LAST_VERSION, the rest of the line) of one
//   component folder ("ORG/express", "MIRROR/outlook/2003"), set by the
//   vendor without signing anything anew (`mailbeacon-server rollout`). It
//   holds only for that release, and over the manifest's own ROLLOUT;
// - ROLLOUT=P in a manifest's DOWNLOAD section: a whole number from 0 to 100.
#pragma once

#include <optional>
#include <string>
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

// The key of a component folder's share in the pause file.
std::string ReleaseShareKey(std::string_view component_folder);
struct ReleaseShare {
  int share = kFullRollout;
  std::string_view release;
};
// "30 1.0.6": the share and the release; nothing for anything else.
std::optional<ReleaseShare> ParseReleaseShare(std::string_view value);

}  // namespace mb::fleet
