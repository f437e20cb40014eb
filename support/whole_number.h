// A number the agent is given as text, the start delay on its command line
// and a manifest's TOTAL_FILES alike: converted to a whole number as the
// agent converts every such value, fractions rounded to the nearest whole
// number and an exact half to the even neighbour ("2.5" is 2, "3.5" is 4).
#pragma once

#include <optional>
#include <string_view>

namespace mb {

// An optional sign, digits, an optional fraction ("1.0", "-2.5", ".5",
// "7."), spaces around it ignored; rounded as above. Nothing for any other
// text, an exponent ("1e3") included. Whether the result fits where it
// goes is the caller's to check.
std::optional<double> RoundedNumber(std::string_view text);

}  // namespace mb
