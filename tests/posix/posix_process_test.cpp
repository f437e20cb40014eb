#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "helpers/scoped_env.h"
#include "helpers/temp_dir.h"
#include "platform/posix/posix_process.h"

namespace mb::posix {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ScopedEnv;
using test::TempDir;
using test::WriteFile;

TEST(OsProcessTest, ArgumentsAreTheCommandLineAfterTheProgram) {
  char prog[] = "Mailbeacon", d[] = "-d", five[] = "5";
  char* argv[] = {prog, d, five, nullptr};
  EXPECT_EQ(PosixProcess(3, argv).Arguments(), "-d 5");
  EXPECT_EQ(PosixProcess(1, argv).Arguments(), "");
}

TEST(OsProcessTest, InstallDirIsTheRunningExecutablesFolder) {
  char prog[] = "whatever";
  char* argv[] = {prog, nullptr};
  std::string dir = PosixProcess(1, argv).InstallDir();
  EXPECT_EQ(fs::path(dir), fs::canonical(MB_BIN_DIR));
  EXPECT_NE(dir.back(), '/');
}

TEST(OsProcessTest, ParentDirectoryHasNoTrailingSeparator) {
  EXPECT_EQ(ParentDirectory("/opt/mailbeacon/Mailbeacon"), "/opt/mailbeacon");
  EXPECT_EQ(ParentDirectory("/Mailbeacon"), "/");
  EXPECT_EQ(ParentDirectory("Mailbeacon"), ".");
}

TEST(OsProcessTest, SystemDirComesFromTheEnvironmentOrTheInstallDir) {
  PosixProcess process("/opt/mb", "");
  {
    ScopedEnv env("MAILBEACON_SYSTEM_DIR", "/srv/sys32");
    EXPECT_EQ(process.SystemDir(), "/srv/sys32");
  }
  {
    ScopedEnv env("MAILBEACON_SYSTEM_DIR", nullptr);
    EXPECT_EQ(process.SystemDir(), "/opt/mb\\system32");
  }
}

TEST(OsProcessTest, NowIsLocalTime) {
  ScopedEnv tz("TZ", "KST-9");
  PosixProcess process("/opt/mb", "");
  std::time_t before = std::time(nullptr);
  platform::LocalTime now = process.Now();
  std::time_t after = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&before, &utc);
  if (before != after) GTEST_SKIP() << "the clock ticked during the test";
  EXPECT_EQ(now.hour, (utc.tm_hour + 9) % 24);
  EXPECT_EQ(now.minute, utc.tm_min);
  EXPECT_EQ(now.second, utc.tm_sec);
  EXPECT_GE(now.year, 2000);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
}

// Two agents started together (here a process and its fork, which share
// every bit of memory) must not draw alike: each machine's place in a
// staged release and its poll jitter come from these numbers.
TEST(OsProcessTest, RandomNumbersDifferAcrossProcessesStartedTogether) {
  PosixProcess process("/opt/mb", "");
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  std::uint64_t mine = process.RandomNumber();
  mine = mine << 32 | process.RandomNumber();
  if (child == 0) {
    const bool sent = write(fds[1], &mine, sizeof mine) == static_cast<ssize_t>(sizeof mine);
    _exit(sent ? 0 : 1);
  }
  std::uint64_t theirs = 0;
  ASSERT_EQ(read(fds[0], &theirs, sizeof theirs), static_cast<ssize_t>(sizeof theirs));
  int status = 0;
  waitpid(child, &status, 0);
  close(fds[0]);
  close(fds[1]);
  EXPECT_NE(mine, theirs);
}

// Waits for a file the started program writes last.
std::optional<std::string> WaitForFile(const fs::path& p) {
  for (int i = 0; i < 1000; ++i) {
    if (fs::exists(p)) return ReadFile(p);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::nullopt;
}

TEST(OsProcessTest, ShellOpenStartsTheProgramInItsFolder) {
  TempDir dir;
  fs::create_directory(dir / "install dir");
  fs::path script = dir / "install dir" / "Updater.exe";
  WriteFile(script,
            "#!/bin/sh\n"
            "{ echo \"$0\"; echo \"$#\"; echo \"$1\"; pwd; readlink /proc/self/fd/0; }"
            " > record.tmp\n"
            "mv record.tmp record.txt\n");
  fs::permissions(script, fs::perms(0755));

  PosixProcess process("/unused", "");
  process.ShellOpen("Updater.exe", "Mailbeacon Shell", dir.str() + "\\install dir");
  std::optional<std::string> record = WaitForFile(dir / "install dir" / "record.txt");
  ASSERT_TRUE(record.has_value()) << "the program did not run";
  std::string cwd = fs::canonical(dir / "install dir").string();
  // A script's $0 is the path it was started by: the folder joined with "/".
  EXPECT_EQ(*record, script.string() + "\n1\nMailbeacon Shell\n" + cwd + "\n/dev/null\n");
}

TEST(OsProcessTest, ShellOpenOfAMissingProgramIsSilent) {
  TempDir dir;
  PosixProcess process("/unused", "");
  EXPECT_NO_THROW(process.ShellOpen("missing.exe", "x", dir.str()));
  EXPECT_NO_THROW(process.ShellOpen("missing.exe", "x", dir.str() + "/no/such/dir"));
}

}  // namespace
}  // namespace mb::posix
