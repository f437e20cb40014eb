// The POSIX agent's command line and the environment a script sets, checked
// before anything runs: an option the agent does not know, or a run limit
// that is no count, must not turn into a run against some server.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mb::posix {

// The exit status of a command line or environment that cannot be used.
inline constexpr int kExitUsage = 2;

struct CommandLineCheck {
  bool help = false;  // --help, -h or -?: show the usage
  std::string error;  // what is wrong; empty when the command line is usable
};

// Accepts nothing, or a first argument starting with "-d" (the start delay,
// read by the agent's own rule; "-d 5", "-d5"). Any other argument that
// looks like an option ("-x", "--verbose"; a negative number is none), or a
// first argument that is no "-d", is an error.
CommandLineCheck CheckCommandLine(const std::vector<std::string>& args);

// The short usage text, for `program` (argv[0]).
std::string Usage(const std::string& program);

// MAILBEACON_MAX_RUNS: nothing when unset, the count when it is a positive
// decimal number; `error` says why any other value is refused.
std::optional<int> ParseMaxRuns(const char* text, std::string* error);

}  // namespace mb::posix
