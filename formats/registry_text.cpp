#include "formats/registry_text.h"

#include <algorithm>
#include <cstdint>

namespace mb::formats {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one strict UTF-8 sequence (no overlongs, surrogates or values
// above U+10FFFF). Returns its length, or 0 when it is invalid.
std::size_t DecodeUtf8(const std::string& s, std::size_t pos, char32_t* out) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(pos);
  std::size_t len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if (lead < 0x80) {
    *out = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    len = 2, cp = lead & 0x1Fu, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    len = 3, cp = lead & 0x0Fu, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    len = 4, cp = lead & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  if (pos + len > s.size()) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(pos + i) & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *out = cp;
  return len;
}

void AppendUtf8(char32_t cp, std::string* out) {
  const auto put = [out](char32_t v) { out->push_back(static_cast<char>(v)); };
  if (cp < 0x80) {
    put(cp);
  } else if (cp < 0x800) {
    put(0xC0 | (cp >> 6)), put(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    put(0xE0 | (cp >> 12)), put(0x80 | ((cp >> 6) & 0x3F)), put(0x80 | (cp & 0x3F));
  } else {
    put(0xF0 | (cp >> 18)), put(0x80 | ((cp >> 12) & 0x3F));
    put(0x80 | ((cp >> 6) & 0x3F)), put(0x80 | (cp & 0x3F));
  }
}

void AppendUnit(char16_t unit, std::string* out) {
  out->push_back(static_cast<char>(unit & 0xFF));
  out->push_back(static_cast<char>(unit >> 8));
}

char16_t UnitAt(const std::string& s, std::size_t i) {
  return static_cast<char16_t>(static_cast<unsigned char>(s[i]) |
                               (static_cast<unsigned char>(s[i + 1]) << 8));
}

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Strict UTF-16LE decoding of a whole file (after its BOM).
std::optional<std::string> DecodeUtf16File(const std::string& bytes, std::size_t start,
                                           int* bad_line) {
  std::string out;
  int line = 1;
  for (std::size_t i = start; i < bytes.size(); i += 2) {
    if (i + 1 >= bytes.size()) break;
    const char16_t u = UnitAt(bytes, i);
    char32_t cp = u;
    if (IsHigh(u) && i + 3 < bytes.size() && IsLow(UnitAt(bytes, i + 2))) {
      cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (UnitAt(bytes, i + 2) - 0xDC00);
      i += 2;
    } else if (IsHigh(u) || IsLow(u)) {
      *bad_line = line;
      return std::nullopt;
    }
    if (cp == '\n') ++line;
    AppendUtf8(cp, &out);
  }
  if ((bytes.size() - start) % 2 != 0) {  // cut in the middle of a unit
    *bad_line = line;
    return std::nullopt;
  }
  return out;
}

// Simple one-to-one lower-case mapping of the cased scripts users put in
// names; enough for the agent's own keys and what regedit users type.
char32_t FoldChar(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c < 0x80) return c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
      (c >= 0x410 && c <= 0x42F)) {
    return c + 32;
  }
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
      c != 0x17F) {
    const bool odd_is_upper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    const bool upper = odd_is_upper ? (c % 2 == 1) : (c % 2 == 0);
    return upper ? c + 1 : c;
  }
  return c;
}

template <typename Convert>
std::string ConvertPieces(const std::string& text, Convert convert) {
  std::string out;
  std::size_t start = 0;
  while (true) {
    const std::size_t nul = text.find('\0', start);
    out += convert(text.substr(start, nul == std::string::npos ? nul : nul - start));
    if (nul == std::string::npos) return out;
    out.push_back('\0');
    start = nul + 1;
  }
}

}  // namespace

bool IsValidUtf8(const std::string& text, std::size_t* bad_offset) {
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t len = DecodeUtf8(text, i, &cp);
    if (len == 0) {
      if (bad_offset) *bad_offset = i;
      return false;
    }
    i += len;
  }
  return true;
}

std::optional<std::string> DecodeRegistryBytes(const std::string& bytes, int* bad_line) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    return DecodeUtf16File(bytes, 2, bad_line);
  }
  std::size_t bad = 0;
  if (IsValidUtf8(bytes, &bad)) return bytes;
  *bad_line = 1 + static_cast<int>(std::count(
                      bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bad), '\n'));
  return std::nullopt;
}

std::string Utf16leToUtf8(const std::string& utf16le) {
  std::string out;
  const std::size_t end = utf16le.size() & ~std::size_t{1};
  for (std::size_t i = 0; i < end; i += 2) {
    const char16_t u = UnitAt(utf16le, i);
    if (IsHigh(u) && i + 3 < end && IsLow(UnitAt(utf16le, i + 2))) {
      AppendUtf8(
          0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (UnitAt(utf16le, i + 2) - 0xDC00),
          &out);
      i += 2;
    } else {
      AppendUtf8(IsHigh(u) || IsLow(u) ? kReplacement : u, &out);
    }
  }
  if (end != utf16le.size()) AppendUtf8(kReplacement, &out);
  return out;
}

std::string Utf8ToUtf16le(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = kReplacement;
    const std::size_t len = DecodeUtf8(utf8, i, &cp);
    i += len == 0 ? 1 : len;
    if (len == 0) cp = kReplacement;
    if (cp >= 0x10000) {
      AppendUnit(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)), &out);
      AppendUnit(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)), &out);
    } else {
      AppendUnit(static_cast<char16_t>(cp), &out);
    }
  }
  return out;
}

std::string FoldCase(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    const std::size_t len = DecodeUtf8(utf8, i, &cp);
    if (len == 0) {  // not UTF-8: keep the byte as it is
      out.push_back(utf8[i++]);
      continue;
    }
    AppendUtf8(FoldChar(cp), &out);
    i += len;
  }
  return out;
}

std::string ToAnsiPieces(const platform::CodePage& cp, const std::string& utf8) {
  return ConvertPieces(utf8, [&cp](const std::string& piece) { return cp.ToAnsi(piece); });
}

std::string FromAnsiPieces(const platform::CodePage& cp, const std::string& ansi) {
  return ConvertPieces(ansi, [&cp](const std::string& piece) { return cp.FromAnsi(piece); });
}

}  // namespace mb::formats
