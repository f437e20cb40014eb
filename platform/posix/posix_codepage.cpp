#include "platform/posix/posix_codepage.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "support/error.h"

namespace mb::posix {
namespace {

// iconv_open's documented failure value.
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)
constexpr std::string_view kQuestionMark = "?";
constexpr std::string_view kReplacementChar = "\xEF\xBF\xBD";  // U+FFFD
// glibc's iconv re-reads the rest of its input after every unconvertible
// character; feeding it bounded chunks keeps such text linear.
constexpr std::size_t kChunkBytes = 256;

iconv_t OpenConverter(const std::string& to, const std::string& from, int number) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == kNoConverter) {
    int err = errno;
    throw Error(err,
                "code page " + std::to_string(number) + " is not supported: " + std::strerror(err));
  }
  return cd;
}

// How many bytes of UTF-8 input to drop for one character that cannot be
// converted: the whole character when it is well formed, else one byte.
std::size_t Utf8CharLength(const char* p, std::size_t left) {
  auto lead = static_cast<unsigned char>(*p);
  std::size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (n > left) return 1;
  for (std::size_t i = 1; i < n; ++i) {
    if ((static_cast<unsigned char>(p[i]) & 0xC0) != 0x80) return 1;
  }
  return n;
}

std::size_t OneByte(const char*, std::size_t) { return 1; }

// Runs `cd` over all of `in`; input it cannot take is dropped `skip` bytes
// at a time and replaced by `replacement`.
std::string Convert(iconv_t cd, const std::string& in,
                    std::size_t (*skip)(const char*, std::size_t), std::string_view replacement) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  std::string out(in.size() * 3 + 16, '\0');      // enough for the code pages in use
  char* src = const_cast<char*>(in.data());
  std::size_t src_left = in.size();
  std::size_t used = 0;
  while (src_left > 0) {
    char* dst = out.data() + used;
    std::size_t dst_left = out.size() - used;
    std::size_t chunk = std::min(src_left, kChunkBytes);
    bool last_chunk = chunk == src_left;
    std::size_t chunk_left = chunk;
    std::size_t rc = iconv(cd, &src, &chunk_left, &dst, &dst_left);
    int err = errno;
    src_left -= chunk - chunk_left;
    used = out.size() - dst_left;
    if (rc != static_cast<std::size_t>(-1)) continue;
    if (err == E2BIG) {
      out.resize(out.size() * 2 + 16);
      continue;
    }
    // A character split by the chunk's end: the next chunk starts with it.
    if (err == EINVAL && !last_chunk) continue;
    // EILSEQ, or EINVAL for a sequence cut off at the end of the input.
    std::size_t n = skip(src, src_left);
    src += n;
    src_left -= n;
    out.replace(used, replacement.size(), replacement);  // overwrites spare room
    used += replacement.size();
  }
  out.resize(used + 16);  // room for a stateful encoding's closing sequence
  char* dst = out.data() + used;
  std::size_t dst_left = out.size() - used;
  iconv(cd, nullptr, nullptr, &dst, &dst_left);
  out.resize(out.size() - dst_left);
  return out;
}

bool IsAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

struct LocaleParts {
  std::string language, territory, modifier;
};

// "ll_TT.codeset@modifier"; every part but the language may be missing.
LocaleParts SplitLocale(const std::string& locale) {
  LocaleParts parts;
  std::string* field = &parts.language;
  for (char c : locale) {
    if (c == '_' && field == &parts.language) {
      field = &parts.territory;
    } else if (c == '.') {
      field = nullptr;  // the codeset does not matter: Windows picks by language
    } else if (c == '@') {
      field = &parts.modifier;
    } else if (field != nullptr) {
      field->push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
  }
  return parts;
}

int ChineseCodePage(const std::string& territory) {
  // Traditional script where Windows uses Big5; Simplified (GBK) elsewhere.
  if (territory == "tw" || territory == "hk" || territory == "mo") return 950;
  return 936;
}

bool IsOneOf(const std::string& language, std::initializer_list<std::string_view> names) {
  for (std::string_view name : names) {
    if (language == name) return true;
  }
  return false;
}

}  // namespace

int AnsiCodePageForLocale(const std::string& locale) {
  LocaleParts p = SplitLocale(locale);
  const std::string& lang = p.language;
  if (lang == "ko") return 949;
  if (lang == "ja") return 932;
  if (lang == "zh") return ChineseCodePage(p.territory);
  if (lang == "sr" && p.modifier == "latin") return 1250;  // Serbian in Latin script
  if (IsOneOf(lang, {"ru", "uk", "bg", "be", "sr"})) return 1251;
  if (IsOneOf(lang, {"pl", "cs", "sk", "hu", "hr", "sl", "ro"})) return 1250;
  if (lang == "el") return 1253;
  if (lang == "tr") return 1254;
  if (lang == "he") return 1255;
  if (lang == "ar") return 1256;
  if (IsOneOf(lang, {"lt", "lv", "et"})) return 1257;
  if (lang == "vi") return 1258;
  if (lang == "th") return 874;
  return 1252;  // C, POSIX, English and the other Western languages
}

int SystemAnsiCodePage() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return AnsiCodePageForLocale(value);
  }
  return AnsiCodePageForLocale("C");
}

IconvCodePage::IconvCodePage(int number)
    : number_(number),
      to_ansi_(OpenConverter("CP" + std::to_string(number), "UTF-8", number)),
      from_ansi_(kNoConverter) {
  try {
    from_ansi_ = OpenConverter("UTF-8", "CP" + std::to_string(number), number);
  } catch (...) {
    iconv_close(to_ansi_);
    throw;
  }
  ascii_compatible_ = KeepsAscii();
}

IconvCodePage::~IconvCodePage() {
  iconv_close(to_ansi_);
  iconv_close(from_ansi_);
}

// Every Windows ANSI code page keeps ASCII as it is; checking once lets the
// common case (keys, section names, plain values) skip iconv altogether.
bool IconvCodePage::KeepsAscii() const {
  std::string ascii;
  for (int c = 1; c < 0x80; ++c) ascii.push_back(static_cast<char>(c));
  return Convert(from_ansi_, ascii, OneByte, kReplacementChar) == ascii;
}

std::string IconvCodePage::ToAnsi(const std::string& utf8) const {
  if (ascii_compatible_ && IsAscii(utf8)) return utf8;
  return Convert(to_ansi_, utf8, Utf8CharLength, kQuestionMark);
}

std::string IconvCodePage::FromAnsi(const std::string& ansi) const {
  if (ascii_compatible_ && IsAscii(ansi)) return ansi;
  return Convert(from_ansi_, ansi, OneByte, kReplacementChar);
}

}  // namespace mb::posix
