// libFuzzer target for the file-name encoding of download URLs. Input: one
// byte choosing a code page and a separator, then the name (UTF-8 as the
// agent holds it). Checks that EncodeName writes only numbers each followed
// by the separator, one per character, and that the server's decoder turns
// the "*" form back into exactly the name's ANSI bytes (trimmed of spaces),
// and that the decoder survives any bytes a client may send.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "agent/bas_win_api.h"
#include "platform/posix/posix_codepage.h"
#include "server/program_name.h"
#include "support/text.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool IsValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t len = b < 0x80                ? 1
                      : b >= 0xC2 && b < 0xE0 ? 2
                      : b >= 0xE0 && b < 0xF0 ? 3
                      : b >= 0xF0 && b < 0xF5 ? 4
                                              : 0;
    if (len == 0 || i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    // No overlong three-byte forms, no surrogates, nothing above U+10FFFF.
    const auto b1 = static_cast<unsigned char>(s[i + 1 < s.size() ? i + 1 : i]);
    if (b == 0xE0 && b1 < 0xA0) return false;
    if (b == 0xED && b1 >= 0xA0) return false;
    if (b == 0xF0 && b1 < 0x90) return false;
    if (b == 0xF4 && b1 >= 0x90) return false;
    i += len;
  }
  return true;
}

const mb::posix::IconvCodePage& CodePage(int which) {
  static const mb::posix::IconvCodePage korean(949), western(1252), japanese(932);
  if (which == 0) return korean;
  return which == 1 ? western : japanese;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const auto& cp = CodePage(data[0] % 3);
  const std::string separator = data[0] & 0x80 ? "," : "";
  const std::string name(reinterpret_cast<const char*>(data) + 1, size - 1);
  // The server decodes whatever a client sends as "program": any bytes.
  (void)mb::server::DecodeProgramName(name);
  const std::string encoded = mb::basWinAPI::EncodeName(cp, name, separator);
  const char sep = separator.empty() ? '*' : ',';

  Check(encoded.empty() || encoded.back() == sep);
  for (char c : encoded) Check((c >= '0' && c <= '9') || c == '-' || c == sep);
  if (!IsValidUtf8(name)) return 0;

  const std::string trimmed = mb::text::TrimSpaces(name);
  std::size_t characters = 0;
  for (char c : trimmed) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  std::size_t numbers = 0;
  for (char c : encoded) numbers += c == sep;
  Check(numbers == characters);
  if (sep != '*' || trimmed.empty()) return 0;
  const auto decoded = mb::server::DecodeProgramName(encoded);
  Check(decoded.has_value() && *decoded == cp.ToAnsi(trimmed));
  return 0;
}
