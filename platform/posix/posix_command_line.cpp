#include "platform/posix/posix_command_line.h"

#include <charconv>
#include <climits>

namespace mb::posix {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

CommandLineCheck CheckCommandLine(const std::vector<std::string>& args) {
  CommandLineCheck check;
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      check.help = true;
      return check;
    }
  }
  for (const std::string& arg : args) {
    if (arg.rfind("--", 0) == 0) {
      check.error = "unknown option \"" + arg + "\"";
      return check;
    }
  }
  return check;
}

std::string Usage(const std::string& program) {
  return "usage: " + program +
         " [-d SECONDS]\n"
         "  -d SECONDS  wait this long before the first run (default: 10 ms)\n"
         "Settings come from the registry file $MAILBEACON_REGISTRY, else\n"
         "$XDG_CONFIG_HOME/mailbeacon/registry.reg (~/.config/...). Without a URL\n"
         "there, the agent uses the vendor's default server.\n";
}

std::optional<int> ParseMaxRuns(const char* text, std::string* error) {
  if (text == nullptr) return std::nullopt;
  const std::string s(text);
  int value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  const bool digits_only = !s.empty() && IsDigit(s[0]);
  if (!digits_only || ec != std::errc() || end != s.data() + s.size() || value <= 0) {
    *error = "MAILBEACON_MAX_RUNS must be a positive number of runs (1 to " +
             std::to_string(INT_MAX) + "), not \"" + s + "\"";
    return std::nullopt;
  }
  return value;
}

}  // namespace mb::posix
