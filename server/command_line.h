// The options of the mailbeacon-server program.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "server/options.h"

namespace mb::server {

struct CommandLine {
  ServerOptions options;
  std::string port_file;  // where to write the port once listening; empty: nowhere
  bool help = false;
};

// Parses the arguments after the program name; nothing, with the reason in
// error, for an unknown option, a missing value or a value that is no number.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string& error);

extern const char* const kUsage;

// A whole decimal number of at least 0 (an option's value), or nothing.
std::optional<int> ParseNonNegative(const std::string& text);

}  // namespace mb::server
