// Who may take a published release now: operational state that the vendor
// sets with `mailbeacon-server rollout` and the server itself changes when
// a release halts by itself, kept apart from the signed release content in
// ROOT/rollout/rollout.ini, one section per component folder:
//
//   [ORG/express]
//   RELEASE=1.0.6                    the release it was set for (LAST_VERSION)
//   SHARE=5                          its share; absent: the release's own ROLLOUT
//   HALT_ABOVE=20                    halt when more than 20 % of the reports...
//   HALT_MIN=50                      ...after at least 50 installed+failed reports
//   HALTED=2026-12-08T10:00:00Z      when the server halted it (share 0)
//   CHANGED=2026-12-08T09:00:00Z     when `rollout` last changed it
//
// An entry holds only while its release is the one published in that
// folder: a new publish of another release starts from that release's own
// ROLLOUT. The file is read by the agents' INI engine (names without
// regard to case, the first of a name wins).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "formats/profile_document.h"

namespace mb::server {

struct HaltRule {
  int above_percent = 0;  // 0..100: halt when the failed share is above it
  int min_reports = 1;    // only after this many installed+failed reports
  bool operator==(const HaltRule&) const = default;
};

struct RolloutEntry {
  std::string release;
  std::optional<int> share;
  std::optional<HaltRule> halt;
  std::string halted;   // when the server halted it; empty while it runs
  std::string changed;  // when `rollout` last changed it
  bool operator==(const RolloutEntry&) const = default;

  // The share agents get for `published`, when the entry says one: 0 once
  // halted, else SHARE. Nothing for another release or without a SHARE.
  std::optional<int> ShareFor(const std::string& published) const;
};

// By component folder as the server keys it: "ORG/express",
// "MIRROR/outlook/2003" (a version label in lower case).
using RolloutState = std::map<std::string, RolloutEntry>;

// The state in the file's text; entries that do not read as one (a share
// out of 0..100, a rule half given) are left out, and said in problems.
RolloutState ParseRolloutState(const formats::ProfileDocument& ini,
                               std::vector<std::string>& problems);
std::string RolloutStateText(const RolloutState& state);

// "ORG/express" or "MIRROR/outlook/2003" as the server keys it (label in
// lower case); nothing for anything else.
std::optional<std::string> ComponentFolderKey(const std::string& text);

}  // namespace mb::server
