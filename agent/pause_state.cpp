#include "agent/pause_state.h"

#include <array>

#include "rules/fleet_settings.h"
#include "support/error.h"
#include "support/text.h"

namespace mb {

std::string ReadPauseFile(platform::InputFile& file, std::size_t max_bytes) {
  std::string bytes;
  std::array<char, 4096> buf{};
  bool any = false;
  while (bytes.size() < max_bytes) {
    const std::size_t n = file.Read(buf.data(), buf.size());
    if (n == 0) break;
    any = true;
    bytes.append(buf.data(), n);
  }
  if (!any) throw Error(kErrPastEndOfFile, "Input past end of file");
  if (bytes.size() > max_bytes) bytes.resize(max_bytes);
  return bytes;
}

std::string_view FirstLineOf(std::string_view bytes) { return bytes.substr(0, bytes.find('\r')); }

ServerState PauseStateForLine(std::string_view line) {
  if (line.empty() || text::Contains(line, "N")) return ServerState::kOrg;
  if (text::Contains(line, "R")) return ServerState::kRefused;
  return ServerState::kMirror;
}

PauseSettings PauseSettingsOf(std::string_view bytes) {
  PauseSettings settings;
  settings.bytes = std::string(bytes);
  if (const auto poll = fleet::PauseSetting(bytes, "POLL"))
    settings.poll_seconds = fleet::PollSeconds(*poll);
  if (const auto reports = fleet::PauseSetting(bytes, "REPORTS"))
    settings.reports = fleet::ReportsWanted(*reports);
  return settings;
}

int PollIntervalMs(int seconds, std::uint32_t random) {
  const std::uint32_t spread = static_cast<std::uint32_t>(seconds) * 100;  // 10 % in ms
  return seconds * 1000 - static_cast<int>(spread) + static_cast<int>(random % (2 * spread + 1));
}

}  // namespace mb
