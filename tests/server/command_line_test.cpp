#include "server/command_line.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "e2e/sandbox.h"
#include "server/commands.h"

namespace mb::server {
namespace {

std::optional<CommandLine> Parse(const std::vector<std::string>& args) {
  std::string error;
  return ParseCommandLine(args, error);
}

TEST(ServerCommandLine, ReadsEveryOption) {
  std::optional<CommandLine> line = Parse({"--root",         "/r",       "--port",      "8080",
                                           "--host",         "0.0.0.0",  "--vdir",      "",
                                           "--codepage",     "1252",     "--port-file", "/p",
                                           "--log",          "/l",       "--misbehave", "slow-drip",
                                           "--misbehave-on", "program=", "--drip-ms",   "5"});
  ASSERT_TRUE(line);
  const ServerOptions& o = line->options;
  EXPECT_EQ(o.root, "/r");
  EXPECT_EQ(o.port, 8080);
  EXPECT_EQ(o.host, "0.0.0.0");
  EXPECT_EQ(o.vdir, "");
  EXPECT_EQ(o.code_page, 1252);
  EXPECT_EQ(line->port_file, "/p");
  EXPECT_EQ(o.log_file, "/l");
  EXPECT_EQ(o.misbehaviour, Misbehaviour::kSlowDrip);
  EXPECT_EQ(o.misbehave_on, "program=");
  EXPECT_EQ(o.drip_ms, 5);
}

TEST(ServerCommandLine, RefusesWhatItCannotUse) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--bogus"},
                                             {"--port"},
                                             {"--port", "x"},
                                             {"--port", "70000"},
                                             {"--port", "-1"},
                                             {"--codepage", "949x"},
                                             {"--misbehave", "odd"},
                                             {"--misbehave-on", "program="},
                                             {"--drip-ms", "5"},
                                             {"--max-age", "-1"},
                                             {"--idle-timeout", "0"}}) {
    EXPECT_FALSE(Parse(args)) << args[0];
  }
  std::string error;
  ParseCommandLine({"--bogus"}, error);
  EXPECT_EQ(error, "unknown option --bogus");
  ParseCommandLine({"--drip-ms", "5", "--root", "/r"}, error);
  EXPECT_EQ(error, "--drip-ms needs --misbehave");
}

// --help and --version come from the command table, for every command and
// before the command reads its options: a command that takes every
// argument as an option with a value still answers them. --version given
// with more is the command's own option (sign-root --version 1).
TEST(ServerCommands, EveryCommandAnswersHelpAndTheProgramItsVersion) {
  std::vector<std::vector<std::string>> ran;
  auto recording = [&](const std::vector<std::string>& args, std::ostream&, std::ostream&) {
    ran.push_back(args);
    return 7;
  };
  const std::vector<Command> commands = {{"", "serve usage\n", recording},
                                         {"sign", "sign usage\n", recording},
                                         {"later", "later usage\n", recording}};
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
  } cases[] = {
      {{"sign", "--help"}, 0, "sign usage\n"},
      {{"later", "--root", "x", "-h"}, 0, "later usage\n"},
      {{"--help"}, 0, "serve usage\n\nsign usage\n\nlater usage\n"},
      {{"--version"}, 0, "mailbeacon-server 9.8.7\n"},
      {{"sign", "--version"}, 0, "mailbeacon-server 9.8.7\n"},
      {{"sign", "--root", "x"}, 7, ""},
      {{"--root", "sign"}, 7, ""},
      {{"later", "--version", "1"}, 7, ""},
  };
  for (const Case& c : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(RunCommand(commands, "9.8.7", c.args, out, err), c.status) << c.args[0];
    EXPECT_EQ(out.str(), c.out) << c.args[0];
  }
  ASSERT_EQ(ran.size(), 3u);  // only those without --help or a lone --version ran
  EXPECT_EQ(ran[0], (std::vector<std::string>{"--root", "x"}));
  EXPECT_EQ(ran[1], (std::vector<std::string>{"--root", "sign"}));
  EXPECT_EQ(ran[2], (std::vector<std::string>{"--version", "1"}));
}

// The real program: each of its commands answers --help with its own usage.
TEST(ServerCommands, TheProgramsCommandsAnswerHelp) {
  const std::string program = std::string(MB_BIN_DIR) + "/mailbeacon-server";
  for (const char* command : {"export", "sign", "publish", "rollout"}) {
    const test::ProgramResult r = test::RunProgram({program, command, "--help"}, "", {}, 30);
    EXPECT_EQ(r.status, 0) << command << ": " << r.output;
    EXPECT_EQ(r.output.rfind(std::string("usage: mailbeacon-server ") + command, 0), 0u)
        << r.output;
  }
  const test::ProgramResult version = test::RunProgram({program, "--version"}, "", {}, 30);
  EXPECT_TRUE(
      std::regex_match(version.output, std::regex("mailbeacon-server [0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << version.output;
}

}  // namespace
}  // namespace mb::server
