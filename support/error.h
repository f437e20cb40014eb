// Errors that an operation raises to its caller. They carry a number (the OS
// error code of the failure, or a small fixed number for the agent's own
// failures) and a description that the error boxes show after " : ".
#pragma once

#include <stdexcept>
#include <string>

namespace mb {

class Error : public std::runtime_error {
 public:
  Error(long number, const std::string& description)
      : std::runtime_error(description), number_(number) {}
  long number() const { return number_; }

 private:
  long number_;
};

// Numbers of the agent's own failures (the OS codes cover everything else).
inline constexpr long kErrOverflow = 6;          // a 16-bit counter overflowed
inline constexpr long kErrTypeMismatch = 13;     // text that is not a number
inline constexpr long kErrPastEndOfFile = 62;    // read of an empty file
inline constexpr long kErrRefusedName = 75;      // unsafe file name in a manifest
inline constexpr long kErrNotAbsoluteFolder = 76;  // a target folder with no root

// Ends the process with an exit status. It is deliberately not a
// std::exception, so the handlers that clear errors never swallow it; the
// program's entry point (or a test) catches it.
struct ProcessEnd {
  int status;
};

}  // namespace mb
