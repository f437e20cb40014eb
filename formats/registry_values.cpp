#include "formats/registry_values.h"

#include "formats/registry_text.h"
#include "platform/registry.h"

namespace mb::formats {
namespace {

bool IsStringType(std::uint32_t type) {
  return type == platform::kRegSz || type == platform::kRegExpandSz ||
         type == platform::kRegMultiSz;
}

std::string WithoutTrailingNuls(std::string text) {
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

}  // namespace

std::string AnsiValueData(const RegValueData& data, bool unicode_file,
                          const platform::CodePage& cp) {
  if (data.quoted) return ToAnsiPieces(cp, data.bytes) + '\0';
  if (!IsStringType(data.type) || !unicode_file) return data.bytes;
  return ToAnsiPieces(cp, Utf16leToUtf8(data.bytes));
}

RegValueData StoredValueData(std::uint32_t type, const std::string& ansi, bool unicode_file,
                             const platform::CodePage& cp) {
  if (!IsStringType(type)) return {type, ansi, false};
  if (type == platform::kRegSz) {
    const std::string ansi_text = WithoutTrailingNuls(ansi);
    const std::string text = FromAnsiPieces(cp, ansi_text);
    if (text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos) {
      return {type, text, true};
    }
    return {type, unicode_file ? Utf8ToUtf16le(text + '\0') : ansi_text + '\0', false};
  }
  return {type, unicode_file ? Utf8ToUtf16le(FromAnsiPieces(cp, ansi)) : ansi, false};
}

}  // namespace mb::formats
