// libFuzzer target for the pause-file rule. Input: one byte choosing the
// read size and the cap, then the file. Checks ReadPauseFile and
// FirstLineOf against the rule written out plainly (the bytes up to the
// first CR, at most the cap; an empty file raises), PauseStateForLine
// against the letter order, and that a POLL setting is only ever taken
// from after the first CR and in range.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "agent/pause_state.h"
#include "rules/fleet_settings.h"
#include "support/error.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// A file that hands out at most `step` bytes per read, as a slow disk might.
class ChunkedFile : public mb::platform::InputFile {
 public:
  ChunkedFile(std::string_view bytes, std::size_t step) : bytes_(bytes), step_(step) {}
  std::size_t Read(char* buf, std::size_t n) override {
    const std::size_t k = std::min({n, step_, bytes_.size()});
    std::memcpy(buf, bytes_.data(), k);
    bytes_.remove_prefix(k);
    return k;
  }

 private:
  std::string_view bytes_;
  std::size_t step_;
};

mb::ServerState ExpectedState(std::string_view line) {
  if (line.empty() || line.find('N') != std::string_view::npos) return mb::ServerState::kOrg;
  if (line.find('R') != std::string_view::npos) return mb::ServerState::kRefused;
  return mb::ServerState::kMirror;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t step = 1 + data[0] % 16 * 700;  // 1 .. 10501 bytes per read
  const std::size_t cap = data[0] & 0x80 ? 64 : 1 << 22;
  const std::string_view file(reinterpret_cast<const char*>(data) + 1, size - 1);
  ChunkedFile input(file, step);
  std::string bytes;
  try {
    bytes = mb::ReadPauseFile(input, cap);
  } catch (const mb::Error&) {
    Check(file.empty());
    return 0;
  }
  Check(!file.empty());
  Check(bytes == file.substr(0, cap));
  const std::string_view line = mb::FirstLineOf(bytes);
  Check(line == file.substr(0, std::min(file.find('\r'), cap)));
  Check(mb::PauseStateForLine(line) == ExpectedState(line));
  const std::optional<int> poll = mb::PauseSettingsOf(bytes).poll_seconds;
  Check(!poll || (line.size() < bytes.size() && *poll >= 1 && *poll <= mb::fleet::kMaxPollSeconds));
  if (poll) {
    const int ms = mb::PollIntervalMs(*poll, static_cast<std::uint32_t>(size * 2654435761u));
    Check(ms >= *poll * 900 && ms <= *poll * 1100);
  }
  return 0;
}
