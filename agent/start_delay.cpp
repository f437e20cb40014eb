#include "agent/start_delay.h"

#include <cmath>
#include <optional>

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

int StartIntervalMs(const std::string& arguments) {
  if (arguments.rfind("-d", 0) != 0) return kDefaultStartIntervalMs;
  const std::string rest = text::RemoveAll(text::RemoveAll(arguments, "-d"), " ");
  const auto number = ParseDecimal(rest);
  if (!number) return kDefaultStartIntervalMs;
  const double seconds = std::nearbyint(*number);  // half to even
  if (seconds <= 0) return kDefaultStartIntervalMs;
  const double clamped = std::min(seconds, static_cast<double>(kMaxStartDelaySeconds));
  return static_cast<int>(clamped) * 1000;
}

}  // namespace mb
