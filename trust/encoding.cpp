#include "trust/encoding.h"

#include <algorithm>
#include <cstdint>

namespace mb::trust {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SextetOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Decodes one group of four; `last` allows padding at its end.
bool DecodeGroup(std::string_view group, bool last, std::string& out) {
  std::size_t pad = 0;
  while (pad < 2 && group[3 - pad] == '=') ++pad;
  if (pad > 0 && !last) return false;
  std::uint32_t bits = 0;
  for (std::size_t i = 0; i < 4 - pad; ++i) {
    const int v = SextetOf(group[i]);
    if (v < 0) return false;
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
  }
  bits <<= 6 * pad;
  // The bits padding hides must be zero: one text per byte string.
  if ((pad == 1 && (bits & 0xFF)) || (pad == 2 && (bits & 0xFFFF))) return false;
  out += static_cast<char>((bits >> 16) & 0xFF);
  if (pad < 2) out += static_cast<char>((bits >> 8) & 0xFF);
  if (pad < 1) out += static_cast<char>(bits & 0xFF);
  return true;
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t bits = 0;
    for (std::size_t k = 0; k < 3; ++k)
      bits = (bits << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    for (std::size_t k = 0; k < 4; ++k)
      out += k <= n ? kAlphabet[(bits >> (18 - 6 * k)) & 0x3F] : '=';
  }
  return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    if (!DecodeGroup(text.substr(i, 4), i + 4 == text.size(), out)) return std::nullopt;
  }
  return out;
}

std::string LowerHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

bool IsLowerHex(std::string_view text, std::size_t digits) {
  if (text.size() != digits) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace mb::trust
