#include "server/log_text.h"

#include <algorithm>

namespace mb::server {
namespace {

bool Escaped(unsigned char c, LogEscape rule) {
  if (c < 0x20 || c > 0x7e) return true;
  if (rule == LogEscape::kVendorText) return false;
  return c == ' ' || c == '"' || c == '\\';
}

void AppendHex(std::string& out, unsigned char c) {
  const char* digits = "0123456789abcdef";
  out += "\\x";
  out += digits[c >> 4];
  out += digits[c & 0xf];
}

}  // namespace

std::string LogText(std::string_view text, LogEscape rule, std::size_t max_bytes) {
  // Most text needs nothing: one look, one copy.
  if (text.size() <= max_bytes && std::none_of(text.begin(), text.end(), [rule](char c) {
        return Escaped(static_cast<unsigned char>(c), rule);
      }))
    return std::string(text);
  std::string out;
  out.reserve(std::min(text.size(), max_bytes));
  std::size_t used = 0;
  for (; used < text.size(); ++used) {
    auto c = static_cast<unsigned char>(text[used]);
    bool escape = Escaped(c, rule);
    if (out.size() + (escape ? 4 : 1) > max_bytes) break;
    if (escape)
      AppendHex(out, c);
    else
      out += static_cast<char>(c);
  }
  if (used < text.size()) out += "...(+" + std::to_string(text.size() - used) + " bytes)";
  return out;
}

}  // namespace mb::server
