#include "server/command_line.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace mb::server
