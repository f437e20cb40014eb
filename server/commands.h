// The commands of the mailbeacon-server program in one table: serving (no
// command word), export, sign, publish, ... The table, not each command,
// answers --help (or -h) with that command's usage, and --version with the
// program's version, before the command reads its own options: a command
// added to the table answers them the same way.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace mb::server {

using CommandRun =
    std::function<int(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)>;

struct Command {
  std::string name;   // the first argument that selects it; "" for serving
  std::string usage;  // what --help prints
  CommandRun run;     // gets the arguments after its name; returns the exit status
};

// Runs the command that the arguments select (the one named by the first
// argument, else the one named ""); its exit status. `mailbeacon-server
// --help` prints every command's usage.
int RunCommand(const std::vector<Command>& commands, const std::string& version,
               const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mb::server
