// The POSIX agent's command line and the environment a script sets, checked
// before anything runs. The agent reads its command line as Windows' agent
// does (agent/start_delay.h: "-d" and seconds; "-D 5", "/d 5" or "-dx" mean
// the 10 ms default); only what no Windows agent is ever given, a request
// for help or a long option, stops it, and a run limit that is no count.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mb::posix {

// The exit status of a command line or environment that cannot be used.
inline constexpr int kExitUsage = 2;

struct CommandLineCheck {
  bool help = false;  // --help or -h: show the usage
  std::string error;  // what is wrong; empty when the command line is usable
};

// --help or -h asks for the usage; any other argument that begins with
// "--" is an error. Everything else is the agent's to read by its own rule,
// as the Windows agent reads it.
CommandLineCheck CheckCommandLine(const std::vector<std::string>& args);

// The short usage text, for `program` (argv[0]).
std::string Usage(const std::string& program);

// MAILBEACON_MAX_RUNS: nothing when unset, the count when it is a positive
// decimal number; `error` says why any other value is refused.
std::optional<int> ParseMaxRuns(const char* text, std::string* error);

}  // namespace mb::posix
