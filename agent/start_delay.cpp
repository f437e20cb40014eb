#include "agent/start_delay.h"

#include <algorithm>

#include "support/text.h"
#include "support/whole_number.h"

namespace mb {

int StartIntervalMs(const std::string& arguments) {
  if (arguments.rfind("-d", 0) != 0) return kDefaultStartIntervalMs;
  const std::string rest = text::RemoveAll(text::RemoveAll(arguments, "-d"), " ");
  const std::optional<double> seconds = RoundedNumber(rest);
  if (!seconds || *seconds <= 0) return kDefaultStartIntervalMs;
  const double clamped = std::min(*seconds, static_cast<double>(kMaxStartDelaySeconds));
  return static_cast<int>(clamped) * 1000;
}

}  // namespace mb
