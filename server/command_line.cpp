#include "server/command_line.h"

#include <algorithm>
#include <functional>
#include <map>

#include "server/listen_address.h"
#include "server/misbehaviour.h"

namespace mb::server {
namespace {

using Setter = std::function<bool(CommandLine&, const std::string&)>;

bool SetNumber(int& field, const std::string& value) {
  std::optional<int> n = ParseNonNegative(value);
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
         return !v.empty();
       }},
      {"--access-log",
       [](CommandLine& c, const std::string& v) {
         c.options.access_log_file = v;
         return !v.empty();
       }},
      {"--metrics-listen",
       [](CommandLine& c, const std::string& v) {
         c.options.metrics_listen = v;
         return SplitListenAddress(v).has_value();
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
      {"--max-age",
       [](CommandLine& c, const std::string& v) {
         return SetNumber(c.options.cache.text_max_age, v);
       }},
      {"--file-max-age",
       [](CommandLine& c, const std::string& v) {
         return SetNumber(c.options.cache.file_max_age, v);
       }},
      {"--max-connections",
       [](CommandLine& c, const std::string& v) {
         return SetNumber(c.options.max_connections, v) && c.options.max_connections > 0;
       }},
      {"--per-ip-connections",
       [](CommandLine& c, const std::string& v) {
         return SetNumber(c.options.per_ip_connections, v);
       }},
      {"--idle-timeout",
       [](CommandLine& c, const std::string& v) {
         return SetNumber(c.options.idle_timeout_s, v) && c.options.idle_timeout_s > 0;
       }},
      {"--threads",
       [](CommandLine& c, const std::string& v) { return SetNumber(c.options.threads, v); }},
      {"--expiry-warning-days",
       [](CommandLine& c, const std::string& v) {
         return SetNumber(c.options.expiry_warning_days, v);
       }},
  };
  return setters;
}

}  // namespace

std::optional<int> ParseNonNegative(const std::string& text) {
  try {
    std::size_t used = 0;
    int value = std::stoi(text, &used);
    if (used == text.size() && value >= 0) return value;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

const char* const kUsage =
    "usage: mailbeacon-server [--root DIR] [--port N] [--host ADDR] [--vdir PATH]\n"
    "                         [--codepage N] [--port-file FILE] [--log FILE]\n"
    "                         [--access-log FILE] [--metrics-listen ADDR:PORT]\n"
    "                         [--max-age S] [--file-max-age S] [--max-connections N]\n"
    "                         [--per-ip-connections N] [--idle-timeout S] [--threads N]\n"
    "                         [--misbehave MODE [--misbehave-on TEXT] [--drip-ms N]]\n"
    "                         [--expiry-warning-days N]\n"
    "       mailbeacon-server COMMAND ... (every command: mailbeacon-server --help)\n"
    "       mailbeacon-server --version\n"
    "Serves the release folder DIR (default .) under http://ADDR:N/PATH/download/.\n"
    "Defaults: --host 127.0.0.1, --port 0 (any free port), --vdir /mailbeaconhome,\n"
    "--codepage 949, --max-age 2 (pause state, manifests, notices), --file-max-age 60,\n"
    "--max-connections 10000, no per-address limit, --idle-timeout 15, one thread per\n"
    "processor. --log FILE gets warnings and refused requests (default: stderr),\n"
    "--access-log FILE a line per request; SIGUSR1 opens both files again (logrotate).\n"
    "--metrics-listen ADDR:PORT serves GET /metrics (Prometheus) there, and only there.\n"
    "SIGHUP reads the release folder at once (it is also checked four times a second).\n"
    "MODE breaks the answers to targets containing TEXT (default: all): reset,\n"
    "short-body, endless, slow-drip (one byte per --drip-ms, default 100),\n"
    "error-500, redirect-loop, wrong-hash.\n"
    "--codepage is the ANSI code page of the agents' Windows (949 Korean, 1252\n"
    "Western); every command that reads a release takes it, and they must agree.\n"
    "Agents' reports (report.aspx) are answered 204 and counted in the metrics; the\n"
    "shares of ROOT/rollout/rollout.ini (the rollout command) go into the pause\n"
    "answer within a second. --expiry-warning-days N (default 14) warns that many\n"
    "days before a component's signature expires.\n";

namespace {

// Options that mean something only beside another one.
std::optional<std::string> Inconsistency(const CommandLine& line,
                                         const std::vector<std::string>& args) {
  auto given = [&](const std::string& name) {
    return std::find(args.begin(), args.end(), name) != args.end();
  };
  bool misbehaving = line.options.misbehaviour != Misbehaviour::kNone;
  for (const char* name : {"--misbehave-on", "--drip-ms"}) {
    if (given(name) && !misbehaving) return std::string(name) + " needs --misbehave";
  }
  return std::nullopt;
}

}  // namespace

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
  if (std::optional<std::string> problem = Inconsistency(line, args)) {
    error = *problem;
    return std::nullopt;
  }
  return line;
}

}  // namespace mb::server
