#include "server/program_name.h"

#include <cstdint>

namespace mb::server {
namespace {

// Longest number accepted; keeps the parse far from overflow.
constexpr std::size_t kMaxDigits = 7;

// Parses "-?[0-9]+" exactly; nothing else is a number here.
std::optional<long> ParseNumber(std::string_view s) {
  bool negative = !s.empty() && s.front() == '-';
  if (negative) s.remove_prefix(1);
  if (s.empty() || s.size() > kMaxDigits) return std::nullopt;
  long value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

// Appends the ANSI bytes of one character code; false when out of range.
bool AppendCharacter(long code, std::string& out) {
  if (code >= 0 && code <= 0xFF) {
    out.push_back(static_cast<char>(code));
    return true;
  }
  if (code < INT16_MIN || code > INT16_MAX) return false;
  auto bits = static_cast<std::uint16_t>(static_cast<std::int16_t>(code));
  out.push_back(static_cast<char>(bits >> 8));
  out.push_back(static_cast<char>(bits & 0xFF));
  return true;
}

long CodeOf(const AnsiChar& c) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(c[i]); };
  if (c.size() == 1) return byte(0);
  auto bits = static_cast<std::uint16_t>((byte(0) << 8) | byte(1));
  return static_cast<std::int16_t>(bits);
}

}  // namespace

std::optional<std::string> DecodeProgramName(std::string_view encoded) {
  if (encoded.empty()) return std::nullopt;
  std::string name;
  while (!encoded.empty()) {
    std::size_t star = encoded.find('*');
    if (star == std::string_view::npos) return std::nullopt;
    std::optional<long> number = ParseNumber(encoded.substr(0, star));
    if (!number || !AppendCharacter(*number - kNameKeySum, name)) return std::nullopt;
    encoded.remove_prefix(star + 1);
  }
  return name;
}

std::string EncodeProgramName(const std::vector<AnsiChar>& chars) {
  std::string out;
  for (const AnsiChar& c : chars) {
    out += std::to_string(CodeOf(c) + kNameKeySum);
    out += '*';
  }
  return out;
}

}  // namespace mb::server
