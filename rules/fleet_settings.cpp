#include "rules/fleet_settings.h"

#include <algorithm>

#include "rules/ascii.h"

namespace mb::fleet {
namespace {

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// The next line of `text` (broken at CR, LF or both), taken off its front.
std::string_view TakeLine(std::string_view& text) {
  const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(std::min(end + 1, text.size()));
  return line;
}

}  // namespace

std::optional<int> WholeNumberIn(std::string_view text, int lo, int hi) {
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > hi) return std::nullopt;  // also keeps long digit runs from overflowing
  }
  if (value < lo) return std::nullopt;
  return static_cast<int>(value);
}

std::optional<std::string_view> PauseSetting(std::string_view pause_file, std::string_view key) {
  const std::size_t first_break = pause_file.find('\r');
  if (first_break == std::string_view::npos) return std::nullopt;
  std::string_view rest = pause_file.substr(first_break + 1);
  while (!rest.empty()) {
    const std::string_view line = TakeLine(rest);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (ascii::EqualFolded(TrimSpaces(line.substr(0, eq)), key))
      return TrimSpaces(line.substr(eq + 1));
  }
  return std::nullopt;
}

std::optional<int> PollSeconds(std::string_view value) {
  return WholeNumberIn(value, 1, kMaxPollSeconds);
}

bool ReportsWanted(std::string_view value) { return value == "Y" || value == "y"; }

std::string ReleaseShareKey(std::string_view component_folder) {
  return "ROLLOUT:" + std::string(component_folder);
}

std::optional<ReleaseShare> ParseReleaseShare(std::string_view value) {
  const std::size_t space = value.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  const std::optional<int> share = RolloutShare(value.substr(0, space));
  const std::string_view release = TrimSpaces(value.substr(space + 1));
  if (!share || release.empty()) return std::nullopt;
  return ReleaseShare{*share, release};
}

std::optional<int> RolloutShare(std::string_view value) {
  return WholeNumberIn(value, 0, kFullRollout);
}

}  // namespace mb::fleet
