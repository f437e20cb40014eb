// The start delay given on the command line: "-d" followed by seconds.
#pragma once

#include <string>

namespace mb {

inline constexpr int kDefaultStartIntervalMs = 10;
inline constexpr int kMaxStartDelaySeconds = 3600;

// The first interval of Timer1 in milliseconds for the argument text.
// "-d 5", "-d5" and "-d  5" give 5000; every "-d" is removed and the spaces
// dropped ("-d 1 -d 2" gives 12 s); fractions round half to even. A delay
// above 3600 s is clamped to it; zero, negative or non-numeric gives 10 ms.
int StartIntervalMs(const std::string& arguments);

}  // namespace mb
