// The numeric encoding of file names in download URLs: each character's
// ANSI code plus the sum of the key text, as decimal numbers each followed
// by a separator. The server decodes it back to the file name.
#include <cstdint>

#include "agent/bas_win_api.h"
#include "support/text.h"

namespace mb::basWinAPI {

namespace {

constexpr const char* kKeyText = "OldMap";

// Length of the UTF-8 sequence that starts with byte b (1 for stray bytes).
std::size_t Utf8Length(unsigned char b) {
  if (b >= 0xF0) return 4;
  if (b >= 0xE0) return 3;
  if (b >= 0xC0) return 2;
  return 1;
}

// The character's code in the ANSI code page: a single byte as 0..255, a
// double-byte character as one signed 16-bit number, first byte high.
long AnsiCode(const platform::CodePage& cp, const std::string& utf8_char) {
  const std::string ansi = cp.ToAnsi(utf8_char);
  if (ansi.size() == 1) return static_cast<unsigned char>(ansi[0]);
  if (ansi.size() == 2) {
    const auto word = static_cast<std::uint16_t>((static_cast<unsigned char>(ansi[0]) << 8) |
                                                 static_cast<unsigned char>(ansi[1]));
    return static_cast<std::int16_t>(word);
  }
  return '?';
}

}  // namespace

double KeySum() {
  double sum = 0;
  for (const char* c = kKeyText; *c != '\0'; ++c) sum += static_cast<unsigned char>(*c);
  return sum;
}

std::string EncodeName(const platform::CodePage& cp, const std::string& text,
                       const std::string& separator) {
  const std::string sep = separator.empty() ? "*" : separator;
  const auto key = static_cast<long>(KeySum());
  const std::string trimmed = text::TrimSpaces(text);
  std::string out;
  for (std::size_t i = 0; i < trimmed.size();) {
    const std::size_t len =
        std::min(Utf8Length(static_cast<unsigned char>(trimmed[i])), trimmed.size() - i);
    out += std::to_string(AnsiCode(cp, trimmed.substr(i, len)) + key);
    out += sep;
    i += len;
  }
  return out;
}

}  // namespace mb::basWinAPI
