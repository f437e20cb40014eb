// The pause answer with the shares of the rollout state: the vendor's
// pause.txt as it is, then one line
//
//   ROLLOUT:<FOLDER>/<COMPONENT>=<P> <RELEASE>
//
// for each component folder whose state names the release published there
// (the release in the agents' code page). Only lines are added after the
// vendor's: the first line, up to the first CR, stays exactly as agents of
// every version read it, and a line the vendor wrote for the same folder
// comes first and wins, as agents take the first line of a key.
//
// What agents then get is found by the agents' own rules
// (rules/fleet_settings.h) on the answer itself: the share set for the
// published release, else the manifest's ROLLOUT, else 100.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "server/ansi_code_page.h"
#include "server/release_snapshot.h"
#include "server/rollout/rollout_state.h"

namespace mb::server {

struct ComponentShare {
  std::string key;      // "ORG/express", "ORG/outlook/2003"
  std::string release;  // its LAST_VERSION
  int share = 100;      // what agents take it at
  bool halted = false;  // halted by the server (share 0 until `rollout --share`)
  bool operator==(const ComponentShare&) const = default;
};

struct SharedPause {
  std::string body;
  std::vector<ComponentShare> shares;  // every published component folder
  std::vector<std::string> problems;   // shares that could not be served
};

// pause: the vendor's pause answer; its lines are added only to a 200
// answer that is not empty (an empty file makes agents fail, an empty
// first line would select ORG).
SharedPause ComposePause(const Answer& pause,
                         const std::map<std::string, ComponentRelease>& components,
                         const RolloutState& state, const AnsiCodePage& cp);

// The share agents read for the component folder `key` publishing
// `release` (UTF-8) with the manifest's own ROLLOUT `manifest_share`.
int ShareAgentsRead(const std::string& pause_body, const std::string& key,
                    const std::string& release, std::optional<int> manifest_share,
                    const AnsiCodePage& cp);

}  // namespace mb::server
