// The server's answer in "pause.txt": the state its first line gives, and
// the settings of the lines after it.
//
// The first line is the bytes up to the first CR (a lone LF does not end
// it), searched for "N" and "R" as the agents of every version do. Settings
// are read only from the lines after that first CR, so an agent that knows
// none of them reads the same state from the same file:
//
//   N<CR><LF>
//   POLL=3600<CR><LF>
//
// The settings lines follow rules/fleet_settings.h. A file with only lone
// LFs has no settings: its whole text is the first line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "agent/agent_state.h"
#include "platform/filesystem.h"

namespace mb {

struct PauseSettings {
  // POLL=S: seconds to wait after a run that found nothing to do (1 to
  // 86400); nothing when absent or not a whole number in range.
  std::optional<int> poll_seconds;
  // REPORTS=Y: the server takes reports of what the agents install.
  bool reports = false;
  // The file's bytes, for the settings read where they are needed (the
  // shares of staged releases, rules/fleet_settings.h).
  std::string bytes;
};

struct PauseAnswer {
  ServerState state = ServerState::kOrg;
  PauseSettings settings;
};

// The whole file, at most max_bytes of it. Raises error 62 for an empty
// file, which has no first line.
std::string ReadPauseFile(platform::InputFile& file, std::size_t max_bytes);

// The bytes up to the first CR.
std::string_view FirstLineOf(std::string_view bytes);

// kOrg for an empty line or one containing "N"; else kRefused if it
// contains "R"; else kMirror. Case-sensitive.
ServerState PauseStateForLine(std::string_view line);

// The settings of the lines after the first CR.
PauseSettings PauseSettingsOf(std::string_view bytes);

// The wait after a run that found nothing to do under POLL=S: S seconds,
// spread by up to 10 % either way by `random`, so that agents started
// together drift apart instead of asking together for ever.
int PollIntervalMs(int seconds, std::uint32_t random);

}  // namespace mb
