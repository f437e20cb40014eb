// What the updater did with each component it was handed, in
// update\install_outcome.ini, for the agent's next run:
//   [EXPRESS_DOWNLOAD]            the component's section in the pending list
//   FROM=1.0.5                    the release installed before
//   RELEASE=1.0.6                 the release it was handed
//   RESULT=installed | failed
//   REASON=in-use | denied | io | record | refused    (failed only)
//   FILE=C:\...\MailbeaconExpress.dll                 (failed only)
//   TIME=2026-12-08 12:00:00
// The updater writes it whole when it ends (one batch of the profile
// store); the agent reads it once and removes it, so each outcome is seen
// once.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/filesystem.h"
#include "platform/profile.h"

namespace mb {

inline constexpr const char* kOutcomeInstalled = "installed";
inline constexpr const char* kOutcomeFailed = "failed";

struct ComponentOutcome {
  std::string section;  // "EXPRESS_DOWNLOAD"
  std::string from;     // ANSI: the release installed before
  std::string release;  // ANSI, as the install record holds it
  std::string result;   // kOutcomeInstalled or kOutcomeFailed
  std::string reason;   // a fixed word, empty when installed
  std::string file;     // UTF-8
  std::string time;     // local time, as the update log writes it
  bool operator==(const ComponentOutcome&) const = default;
};

std::string OutcomePath(const std::string& update_dir);

// Replaces the outcome file with these outcomes; false when it could not
// be written.
bool WriteOutcomes(platform::ProfileStore& profiles, platform::FileSystem& fs,
                   const platform::CodePage& codepage, const std::string& update_dir,
                   const std::vector<ComponentOutcome>& outcomes);

// The outcomes in the file (components in the order of their kinds), then
// removes it. Nothing when there is none.
std::vector<ComponentOutcome> TakeOutcomes(platform::ProfileStore& profiles,
                                           platform::FileSystem& fs,
                                           const platform::CodePage& codepage,
                                           const std::string& update_dir);

}  // namespace mb
