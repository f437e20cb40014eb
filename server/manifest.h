// The manifest of one component: INI text in the agents' ANSI code page,
// CRLF line ends.
//
//   [DOWNLOAD]  TOTAL_FILES, LAST_VERSION, ROLLOUT (only when the release
//               is staged; agents that know nothing of it ignore the key)
//   [FILE_1] .. [FILE_n]  NAME, VERSION, ORG_NAME, TARGET_DIR, SELF_REGISTER, HASH
//                         and, in a signed component, SHA256 and LENGTH
//
// Sections are separated by an empty line. Each section is made on its own,
// so a file whose name or values the code page cannot hold is left out alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/ansi_code_page.h"
#include "server/release_files.h"

namespace mb::server {

// "\r\n[FILE_i]\r\n..." for one file; nothing when the code page cannot
// hold a value. SHA256 follows HASH when sha256 is not empty, and LENGTH
// follows it when given.
std::optional<std::string> ManifestFileSection(int index, const PublishedFile& file,
                                               const std::string& hash, const AnsiCodePage& cp,
                                               const std::string& sha256 = "",
                                               std::optional<std::uint64_t> length = std::nullopt);

// Agents and the updater read an INI value into 1,024 bytes: at most 1,023
// bytes of ANSI text, the rest cut. A NAME, ORG_NAME or TARGET_DIR cut so
// would put a file under another name or in another folder than the one
// published (and signed). The reasons a file's values cannot be served,
// each naming its key; none when they fit.
inline constexpr std::size_t kMaxIniValueBytes = 1023;
std::vector<std::string> ValuesAgentsWouldCut(const PublishedFile& file, const AnsiCodePage& cp);

// "[DOWNLOAD]\r\n..."; nothing when the code page cannot hold LAST_VERSION.
// `rollout` is the share of installations (0 to 100) a staged release goes to.
std::optional<std::string> ManifestHead(int total_files, const std::string& last_version,
                                        std::optional<int> rollout, const AnsiCodePage& cp);

// ROLLOUT as release.ini gives it: nothing when absent; a share as agents
// read it (rules/fleet_settings.h); otherwise the reason it is refused.
struct RolloutSetting {
  std::optional<int> percent;
  std::string problem;
};
RolloutSetting ParseRollout(const std::optional<std::string>& value);

}  // namespace mb::server
