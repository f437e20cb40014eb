#include "server/command_line.h"

#include <functional>
#include <map>

#include "server/misbehaviour.h"

namespace mb::server {
namespace {

std::optional<int> Number(const std::string& text) {
  try {
    std::size_t used = 0;
    int value = std::stoi(text, &used);
    if (used == text.size() && value >= 0) return value;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

using Setter = std::function<bool(CommandLine&, const std::string&)>;

bool SetNumber(int& field, const std::string& value) {
  std::optional<int> n = Number(value);
  if (n) field = *n;
  return n.has_value();
}

const std::map<std::string, Setter>& Setters() {
  static const std::map<std::string, Setter> setters = {
      {"--root",
       [](CommandLine& c, const std::string& v) {
         c.options.root = v;
         return true;
       }},
      {"--host",
       [](CommandLine& c, const std::string& v) {
         c.options.host = v;
         return true;
       }},
      {"--vdir",
       [](CommandLine& c, const std::string& v) {
         c.options.vdir = v;
         return true;
       }},
      {"--log",
       [](CommandLine& c, const std::string& v) {
         c.options.log_file = v;
         return true;
       }},
      {"--port-file",
       [](CommandLine& c, const std::string& v) {
         c.port_file = v;
         return true;
       }},
      {"--port",
       [](CommandLine& c, const std::string& v) {
         return SetNumber(c.options.port, v) && c.options.port <= 65535;
       }},
      {"--misbehave-on",
       [](CommandLine& c, const std::string& v) {
         c.options.misbehave_on = v;
         return true;
       }},
      {"--misbehave",
       [](CommandLine& c, const std::string& v) {
         std::optional<Misbehaviour> m = ParseMisbehaviour(v);
         if (m) c.options.misbehaviour = *m;
         return m.has_value();
       }},
      {"--drip-ms",
       [](CommandLine& c, const std::string& v) { return SetNumber(c.options.drip_ms, v); }},
      {"--codepage",
       [](CommandLine& c, const std::string& v) { return SetNumber(c.options.code_page, v); }},
  };
  return setters;
}

}  // namespace

const char* const kUsage =
    "usage: mailbeacon-server [--root DIR] [--port N] [--host ADDR] [--vdir PATH]\n"
    "                         [--codepage N] [--port-file FILE] [--log FILE]\n"
    "                         [--misbehave MODE [--misbehave-on TEXT] [--drip-ms N]]\n"
    "Serves the release folder DIR (default .) under http://ADDR:N/PATH/download/.\n"
    "Defaults: --host 127.0.0.1, --port 0 (any free port), --vdir /mailbeaconhome,\n"
    "--codepage 949; requests are logged to stderr unless --log is given.\n"
    "MODE breaks the answers to targets containing TEXT (default: all): reset,\n"
    "short-body, endless, slow-drip (one byte per --drip-ms, default 100),\n"
    "error-500, redirect-loop, wrong-hash.\n";

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string& error) {
  CommandLine line;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--help" || name == "-h") {
      line.help = true;
      continue;
    }
    auto setter = Setters().find(name);
    if (setter == Setters().end()) {
      error = "unknown option " + name;
      return std::nullopt;
    }
    if (i + 1 >= args.size() || !setter->second(line, args[i + 1])) {
      error = "missing or bad value for " + name;
      return std::nullopt;
    }
    ++i;
  }
  return line;
}

}  // namespace mb::server
