#include "server/commands.h"

#include <algorithm>

namespace mb::server {
namespace {

bool Given(const std::vector<std::string>& args, std::initializer_list<const char*> names) {
  return std::any_of(args.begin(), args.end(), [&](const std::string& a) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return a == n; });
  });
}

const Command* Find(const std::vector<Command>& commands, const std::string& name) {
  for (const Command& c : commands) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

// The serving command's usage, then every other command's.
std::string Overview(const std::vector<Command>& commands) {
  std::string text;
  if (const Command* serving = Find(commands, "")) text = serving->usage;
  for (const Command& c : commands) {
    if (!c.name.empty()) text += "\n" + c.usage;
  }
  return text;
}

}  // namespace

int RunCommand(const std::vector<Command>& commands, const std::string& version,
               const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const Command* command = args.empty() ? nullptr : Find(commands, args.front());
  std::vector<std::string> rest = args;
  if (command != nullptr && !command->name.empty()) {
    rest.erase(rest.begin());
  } else {
    command = Find(commands, "");
  }
  // Alone: sign-root takes --version N for the root's own version.
  if (rest.size() == 1 && rest.front() == "--version") {
    out << "mailbeacon-server " << version << "\n";
    return 0;
  }
  if (command == nullptr) {
    err << "mailbeacon-server: unknown command " << args.front() << "\n" << Overview(commands);
    return 2;
  }
  if (Given(rest, {"--help", "-h"})) {
    out << (command->name.empty() ? Overview(commands) : command->usage);
    return 0;
  }
  return command->run(rest, out, err);
}

}  // namespace mb::server
