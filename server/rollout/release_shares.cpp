#include "server/rollout/release_shares.h"

#include "rules/fleet_settings.h"

namespace mb::server {
namespace {

bool Published(const ComponentRelease& c) {
  return c.manifest.status == 200 && !c.last_version.empty();
}

// "ORG/outlook/2003": an agent of that Outlook looks there first, then at
// "ORG/outlook".
std::vector<std::string> KeysAgentsRead(const std::string& key) {
  std::vector<std::string> keys = {key};
  const std::size_t last = key.rfind('/');
  if (key.find('/') != last) keys.push_back(key.substr(0, last));
  return keys;
}

// The body ready for more lines, its first line (up to the first CR) kept:
// a body without a CR is all first line, so a CR must end it where it ends.
std::string WithLineEnd(std::string body) {
  if (body.find('\r') == std::string::npos) return body + "\r\n";
  if (body.back() == '\n') return body;
  return body + (body.back() == '\r' ? "\n" : "\r\n");
}

}  // namespace

int ShareAgentsRead(const std::string& pause_body, const std::string& key,
                    const std::string& release, std::optional<int> manifest_share,
                    const AnsiCodePage& cp) {
  for (const std::string& k : KeysAgentsRead(key)) {
    const auto value = fleet::PauseSetting(pause_body, fleet::ReleaseShareKey(k));
    if (!value) continue;
    const auto set = fleet::ParseReleaseShare(*value);
    if (set && cp.ToUtf8(set->release) == release) return set->share;
  }
  return manifest_share.value_or(fleet::kFullRollout);
}

SharedPause ComposePause(const Answer& pause,
                         const std::map<std::string, ComponentRelease>& components,
                         const RolloutState& state, const AnsiCodePage& cp) {
  SharedPause out;
  out.body = pause.body;
  const bool can_add = pause.status == 200 && !pause.body.empty();
  std::string lines;
  for (const auto& [key, entry] : state) {
    const auto c = components.find(key);
    if (c == components.end() || !Published(c->second)) continue;
    const std::optional<int> share = entry.ShareFor(c->second.last_version);
    if (!share) continue;
    const std::optional<std::string> release = cp.FromUtf8(c->second.last_version);
    if (!can_add || !release) {
      out.problems.push_back(
          "the share of " + key + " is not served: " +
          (!can_add ? std::string("pause.txt is empty or refused")
                    : "its LAST_VERSION has no form in code page " + std::to_string(cp.Number())));
      continue;
    }
    if (fleet::PauseSetting(pause.body, fleet::ReleaseShareKey(key)))
      out.problems.push_back("pause.txt sets " + fleet::ReleaseShareKey(key) +
                             " itself: agents read that line, not the share of `rollout`");
    lines += fleet::ReleaseShareKey(key) + "=" + std::to_string(*share) + " " + *release + "\r\n";
  }
  if (!lines.empty()) out.body = WithLineEnd(out.body) + lines;
  for (const auto& [key, c] : components) {
    if (!Published(c)) continue;
    const auto entry = state.find(key);
    const bool halted = entry != state.end() && entry->second.ShareFor(c.last_version) &&
                        !entry->second.halted.empty();
    out.shares.push_back({key, c.last_version,
                          ShareAgentsRead(out.body, key, c.last_version, c.rollout, cp), halted});
  }
  return out;
}

}  // namespace mb::server
