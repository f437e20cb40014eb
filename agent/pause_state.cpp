#include "agent/pause_state.h"

#include <array>

#include "support/error.h"
#include "support/text.h"

namespace mb {
namespace {

constexpr std::string_view kPollKey = "poll";

// The lines of `text`, broken at CR, LF or both; empty lines dropped.
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
  while (!text.empty()) {
    const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
    if (end > 0) visit(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
}

}  // namespace

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
  const std::size_t first_break = bytes.find('\r');
  if (first_break == std::string_view::npos) return settings;
  bool poll_seen = false;
  ForEachLine(bytes.substr(first_break + 1), [&](std::string_view line) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return;
    if (text::ToLowerAscii(text::TrimSpaces(line.substr(0, eq))) != kPollKey || poll_seen) return;
    poll_seen = true;
    settings.poll_seconds =
        text::WholeNumber(text::TrimSpaces(line.substr(eq + 1)), 1, kMaxPollSeconds);
  });
  return settings;
}

int PollIntervalMs(int seconds, std::uint32_t random) {
  const std::uint32_t spread = static_cast<std::uint32_t>(seconds) * 100;  // 10 % in ms
  return seconds * 1000 - static_cast<int>(spread) + static_cast<int>(random % (2 * spread + 1));
}

}  // namespace mb
