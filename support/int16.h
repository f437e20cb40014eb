// A 16-bit signed counter that raises an overflow error instead of wrapping,
// the way the agent's counters behave.
#pragma once

#include <cstdint>

#include "support/error.h"

namespace mb {

class Int16 {
 public:
  constexpr Int16() = default;
  constexpr Int16(int v) : value_(Check(v)) {}  // NOLINT: implicit by design
  constexpr operator int16_t() const { return value_; }  // NOLINT
  Int16& operator+=(int d) { value_ = Check(int{value_} + d); return *this; }
  Int16& operator-=(int d) { value_ = Check(int{value_} - d); return *this; }
  Int16& operator++() { return *this += 1; }
  Int16& operator--() { return *this -= 1; }

  static constexpr int16_t Check(long v) {
    if (v < INT16_MIN || v > INT16_MAX) throw Error(kErrOverflow, "Overflow");
    return static_cast<int16_t>(v);
  }

 private:
  int16_t value_ = 0;
};

}  // namespace mb
