#include "agent/pause_state.h"

#include <array>

#include "support/error.h"
#include "support/text.h"

namespace mb {

std::string ReadFirstLine(platform::InputFile& file, std::size_t max_bytes) {
  std::string line;
  std::array<char, 4096> buf{};
  bool any = false;
  while (line.size() < max_bytes) {
    const std::size_t n = file.Read(buf.data(), buf.size());
    if (n == 0) break;
    any = true;
    const std::string_view chunk(buf.data(), n);
    const std::size_t cr = chunk.find('\r');
    line.append(chunk.substr(0, cr));
    if (cr != std::string_view::npos) break;
  }
  if (!any) throw Error(kErrPastEndOfFile, "Input past end of file");
  if (line.size() > max_bytes) line.resize(max_bytes);
  return line;
}

std::string PauseStateForLine(const std::string& line) {
  if (line.empty()) return "N";
  if (text::Contains(line, "N")) return "N";
  if (text::Contains(line, "R")) return "R";
  return "Y";
}

}  // namespace mb
