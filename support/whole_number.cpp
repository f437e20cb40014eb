#include "support/whole_number.h"

#include <cmath>

#include "support/text.h"

namespace mb {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A plain decimal number: optional sign, digits, optional fraction.
std::optional<double> ParseDecimal(const std::string& s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  double value = 0;
  for (; i < s.size() && IsDigit(s[i]); ++i, ++digits) value = value * 10 + (s[i] - '0');
  if (i < s.size() && s[i] == '.') {
    double scale = 0.1;
    for (++i; i < s.size() && IsDigit(s[i]); ++i, ++digits, scale /= 10) {
      value += (s[i] - '0') * scale;
    }
  }
  if (digits == 0 || i != s.size()) return std::nullopt;
  return s[0] == '-' ? -value : value;
}

}  // namespace

std::optional<double> RoundedNumber(std::string_view text) {
  const std::optional<double> number = ParseDecimal(text::TrimSpaces(text));
  if (!number) return std::nullopt;
  return std::nearbyint(*number) + 0.0;  // half to even; "+ 0.0" makes -0 a 0
}

}  // namespace mb
