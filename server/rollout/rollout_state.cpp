#include "server/rollout/rollout_state.h"

#include "rules/ascii.h"
#include "rules/fleet_settings.h"
#include "server/release_ini.h"
#include "server/release_snapshot.h"

namespace mb::server {
namespace {

constexpr int kMaxPercent = 100;
constexpr int kMaxReports = 1000000000;

std::string Value(const formats::ProfileDocument& ini, std::string_view section,
                  std::string_view key) {
  return IniValue(ini, section, key).value_or("");
}

// One section as an entry; nothing (with the reason) when it does not read
// as one, so that a typo never turns into a share nobody meant.
std::optional<RolloutEntry> EntryOf(const formats::ProfileDocument& ini, std::string_view section,
                                    std::string& problem) {
  RolloutEntry e;
  e.release = Value(ini, section, "RELEASE");
  if (e.release.empty()) {
    problem = "no RELEASE";
    return std::nullopt;
  }
  const std::string share = Value(ini, section, "SHARE");
  if (!share.empty()) {
    e.share = fleet::RolloutShare(share);
    if (!e.share) {
      problem = "SHARE=" + share + " is not a whole number from 0 to 100";
      return std::nullopt;
    }
  }
  const std::string above = Value(ini, section, "HALT_ABOVE");
  const std::string min = Value(ini, section, "HALT_MIN");
  if (!above.empty() || !min.empty()) {
    const std::optional<int> pct = fleet::WholeNumberIn(above, 0, kMaxPercent);
    const std::optional<int> n = fleet::WholeNumberIn(min, 1, kMaxReports);
    if (!pct || !n) {
      problem = "HALT_ABOVE (0 to 100) and HALT_MIN (1 or more) go together";
      return std::nullopt;
    }
    e.halt = HaltRule{*pct, *n};
  }
  e.halted = Value(ini, section, "HALTED");
  e.changed = Value(ini, section, "CHANGED");
  return e;
}

}  // namespace

std::optional<int> RolloutEntry::ShareFor(const std::string& published) const {
  if (published.empty() || published != release) return std::nullopt;
  if (!halted.empty()) return 0;
  return share;
}

RolloutState ParseRolloutState(const formats::ProfileDocument& ini,
                               std::vector<std::string>& problems) {
  RolloutState state;
  for (std::string_view section : ini.SectionNames()) {
    const std::optional<std::string> key = ComponentFolderKey(std::string(section));
    std::string problem = key ? "" : "not a component folder (ORG/express, MIRROR/outlook/2003)";
    std::optional<RolloutEntry> entry;
    if (key) entry = EntryOf(ini, section, problem);
    if (!entry) {
      problems.push_back("[" + std::string(section) + "]: " + problem + "; left out");
      continue;
    }
    state.emplace(*key, std::move(*entry));
  }
  return state;
}

std::string RolloutStateText(const RolloutState& state) {
  std::string text =
      "; Written by mailbeacon-server rollout (and by the server when a release halts by\r\n"
      "; itself): who may take each published release now. Change it with that command.\r\n";
  for (const auto& [key, e] : state) {
    text += "[" + key + "]\r\nRELEASE=" + e.release + "\r\n";
    if (e.share) text += "SHARE=" + std::to_string(*e.share) + "\r\n";
    if (e.halt) {
      text += "HALT_ABOVE=" + std::to_string(e.halt->above_percent) + "\r\n";
      text += "HALT_MIN=" + std::to_string(e.halt->min_reports) + "\r\n";
    }
    if (!e.halted.empty()) text += "HALTED=" + e.halted + "\r\n";
    if (!e.changed.empty()) text += "CHANGED=" + e.changed + "\r\n";
  }
  return text;
}

std::optional<std::string> ComponentFolderKey(const std::string& text) {
  const std::size_t first = text.find('/');
  if (first == std::string::npos) return std::nullopt;
  const std::string folder = text.substr(0, first);
  if (folder != "ORG" && folder != "MIRROR") return std::nullopt;
  const std::string rest = text.substr(first + 1);
  const std::size_t second = rest.find('/');
  const std::string component = rest.substr(0, second);
  for (Component c : {Component::kOutlook, Component::kExpress, Component::kAgent}) {
    if (component != ComponentFolderName(c)) continue;
    if (second == std::string::npos) return ComponentKey(folder, c);
    const std::string label = rest.substr(second + 1);
    if (c != Component::kOutlook || !IsVersionLabel(label)) return std::nullopt;
    return ComponentKey(folder, c, ascii::ToLower(label));
  }
  return std::nullopt;
}

}  // namespace mb::server
