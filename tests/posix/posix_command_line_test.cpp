// The POSIX agent's command line and run limit, as checked before a run.
#include <gtest/gtest.h>

#include "platform/posix/posix_command_line.h"

namespace mb::posix {
namespace {

// Every command line of a Windows agent is read as it reads it ("-D 5",
// "/d 5", "-dx" mean the 10 ms default); only help and long options stop.
TEST(OsCommandLineTest, ReadAsTheWindowsAgentReadsIt) {
  using Args = std::vector<std::string>;
  for (const Args& ok :
       {Args{}, Args{"-d", "5"}, Args{"-d5"}, Args{"-d", "1", "-d", "2"}, Args{"-d", "-5"},
        Args{"-dx"}, Args{"-d", "2.5"}, Args{"-D", "2"}, Args{"/d", "5"}, Args{"5"}, Args{"-x"},
        Args{"-?"}, Args{"-d", "5", "-v"}}) {
    const CommandLineCheck c = CheckCommandLine(ok);
    EXPECT_FALSE(c.help) << ::testing::PrintToString(ok);
    EXPECT_EQ(c.error, "") << ::testing::PrintToString(ok);
  }
  for (const Args& help : {Args{"--help"}, Args{"-h"}, Args{"-d", "5", "-h"}}) {
    EXPECT_TRUE(CheckCommandLine(help).help) << ::testing::PrintToString(help);
  }
  for (const Args& bad : {Args{"--delay=5"}, Args{"-d", "5", "--verbose"}, Args{"--"}}) {
    EXPECT_NE(CheckCommandLine(bad).error, "") << ::testing::PrintToString(bad);
  }
}

TEST(OsCommandLineTest, RunLimitIsAPositiveCount) {
  std::string error;
  EXPECT_EQ(ParseMaxRuns(nullptr, &error), std::nullopt);
  EXPECT_EQ(error, "");
  EXPECT_EQ(ParseMaxRuns("3", &error), 3);
  EXPECT_EQ(error, "");
  for (const char* bad : {"0", "-1", "abc", "", "3x", "+3", " 3", "99999999999"}) {
    error.clear();
    EXPECT_EQ(ParseMaxRuns(bad, &error), std::nullopt) << bad;
    EXPECT_NE(error.find("MAILBEACON_MAX_RUNS"), std::string::npos) << bad;
  }
}

}  // namespace
}  // namespace mb::posix
