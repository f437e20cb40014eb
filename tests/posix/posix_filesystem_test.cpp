#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "helpers/temp_dir.h"
#include "platform/posix/posix_filesystem.h"
#include "support/error.h"

namespace mb::posix {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// Runs `op`, expecting it to raise mb::Error with `err` and its description.
template <typename Op>
void ExpectErrno(int err, Op op) {
  try {
    op();
    ADD_FAILURE() << "no error raised, expected errno " << err;
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err);
    EXPECT_STREQ(e.what(), std::strerror(err));
  }
}

std::set<std::string> Entries(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

fs::perms Perms(const fs::path& p) { return fs::status(p).permissions() & fs::perms::all; }

// The agent's own spelling of a path under the temp dir.
std::string WinPath(const TempDir& dir, const std::string& rel) { return dir.str() + "\\" + rel; }

class OsFileSystemTest : public ::testing::Test {
 protected:
  TempDir dir_;
  PosixFileSystem fs_;
};

TEST_F(OsFileSystemTest, OrdinaryFilesAreVisibleRegularFiles) {
  WriteFile(dir_ / "plain.txt", "x");
  WriteFile(dir_ / ".hidden", "x");
  fs::create_directory(dir_ / "sub");
  fs::create_symlink(dir_ / "plain.txt", dir_ / "link.txt");
  fs::create_directory_symlink(dir_ / "sub", dir_ / "link.dir");

  EXPECT_TRUE(fs_.IsOrdinaryFile(WinPath(dir_, "plain.txt")));
  EXPECT_TRUE(fs_.IsOrdinaryFile(WinPath(dir_, "link.txt")));
  EXPECT_FALSE(fs_.IsOrdinaryFile(WinPath(dir_, ".hidden")));
  EXPECT_FALSE(fs_.IsOrdinaryFile(WinPath(dir_, "sub")));
  EXPECT_FALSE(fs_.IsOrdinaryFile(WinPath(dir_, "link.dir")));
  EXPECT_FALSE(fs_.IsOrdinaryFile(WinPath(dir_, "missing")));
  EXPECT_FALSE(fs_.IsOrdinaryFile(WinPath(dir_, "plain.txt\\")));
}

TEST_F(OsFileSystemTest, ExistsSeesFilesDirectoriesAndHiddenFiles) {
  WriteFile(dir_ / ".hidden", "x");
  fs::create_directory(dir_ / "sub");
  EXPECT_TRUE(fs_.Exists(WinPath(dir_, ".hidden")));
  EXPECT_TRUE(fs_.Exists(WinPath(dir_, "sub")));
  EXPECT_FALSE(fs_.Exists(WinPath(dir_, "missing")));
  EXPECT_FALSE(fs_.Exists(WinPath(dir_, "sub\\missing")));
}

TEST_F(OsFileSystemTest, CreateAndDeleteReportOsErrors) {
  fs_.CreateDirectory(WinPath(dir_, "update"));
  EXPECT_TRUE(fs::is_directory(dir_ / "update"));
  ExpectErrno(EEXIST, [&] { fs_.CreateDirectory(WinPath(dir_, "update")); });
  ExpectErrno(ENOENT, [&] { fs_.CreateDirectory(WinPath(dir_, "no\\such")); });

  WriteFile(dir_ / "update" / "old.ini", "x");
  fs_.DeleteFile(WinPath(dir_, "update\\old.ini"));
  EXPECT_FALSE(fs::exists(dir_ / "update" / "old.ini"));
  ExpectErrno(ENOENT, [&] { fs_.DeleteFile(WinPath(dir_, "update\\old.ini")); });
}

TEST_F(OsFileSystemTest, CopyReplacesTheDestinationAndKeepsPermissions) {
  std::string big(200000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
  WriteFile(dir_ / "new.exe", big);
  fs::permissions(dir_ / "new.exe", fs::perms(0750));
  WriteFile(dir_ / "app.exe", "old contents that are longer than nothing");

  fs_.CopyFile(WinPath(dir_, "new.exe"), WinPath(dir_, "app.exe"));
  EXPECT_EQ(ReadFile(dir_ / "app.exe"), big);
  EXPECT_EQ(Perms(dir_ / "app.exe"), fs::perms(0750));
  EXPECT_EQ(ReadFile(dir_ / "new.exe"), big);
  EXPECT_EQ(Entries(dir_.path()), (std::set<std::string>{"app.exe", "new.exe"}));

  fs_.CopyFile(WinPath(dir_, "app.exe"), WinPath(dir_, "app.exe"));  // onto itself
  EXPECT_EQ(ReadFile(dir_ / "app.exe"), big);
}

TEST_F(OsFileSystemTest, FailedCopyLeavesTheDestinationIntact) {
  WriteFile(dir_ / "app.exe", "installed");
  ExpectErrno(ENOENT, [&] { fs_.CopyFile(WinPath(dir_, "vanished"), WinPath(dir_, "app.exe")); });
  EXPECT_EQ(ReadFile(dir_ / "app.exe"), "installed");

  fs::create_directory(dir_ / "dir.exe");
  EXPECT_THROW(fs_.CopyFile(WinPath(dir_, "app.exe"), WinPath(dir_, "dir.exe")), Error);
  EXPECT_TRUE(fs::is_directory(dir_ / "dir.exe"));
  EXPECT_THROW(fs_.CopyFile(WinPath(dir_, "dir.exe"), WinPath(dir_, "app.exe")), Error);
  EXPECT_EQ(ReadFile(dir_ / "app.exe"), "installed");

  ExpectErrno(ENOENT,
              [&] { fs_.CopyFile(WinPath(dir_, "app.exe"), WinPath(dir_, "none\\app.exe")); });
  // No temporary copy is left behind by any of the failures.
  EXPECT_EQ(Entries(dir_.path()), (std::set<std::string>{"app.exe", "dir.exe"}));
  EXPECT_TRUE(fs::is_empty(dir_ / "dir.exe"));
}

TEST_F(OsFileSystemTest, RenameReplacesTheDestination) {
  WriteFile(dir_ / "a.part", "new");
  WriteFile(dir_ / "a", "old");
  fs_.Rename(WinPath(dir_, "a.part"), WinPath(dir_, "a"));
  EXPECT_EQ(ReadFile(dir_ / "a"), "new");
  EXPECT_FALSE(fs::exists(dir_ / "a.part"));
  ExpectErrno(ENOENT, [&] { fs_.Rename(WinPath(dir_, "a.part"), WinPath(dir_, "a")); });
  EXPECT_EQ(ReadFile(dir_ / "a"), "new");
}

TEST_F(OsFileSystemTest, OpenReadReadsToTheEnd) {
  WriteFile(dir_ / "pause.txt", "Y\r\nrest");
  auto in = fs_.OpenRead(WinPath(dir_, "pause.txt"));
  char buf[4];
  std::string got;
  while (std::size_t n = in->Read(buf, sizeof buf)) got.append(buf, n);
  EXPECT_EQ(got, "Y\r\nrest");
  EXPECT_EQ(in->Read(buf, sizeof buf), 0u);
  ExpectErrno(ENOENT, [&] { fs_.OpenRead(WinPath(dir_, "missing")); });
}

TEST_F(OsFileSystemTest, AppendCreatesThenExtends) {
  fs_.Append(WinPath(dir_, "update_log.txt"), "one\r\n");
  fs_.Append(WinPath(dir_, "update_log.txt"), "two\r\n");
  fs_.Append(WinPath(dir_, "update_log.txt"), "");
  EXPECT_EQ(ReadFile(dir_ / "update_log.txt"), "one\r\ntwo\r\n");
  ExpectErrno(ENOENT, [&] { fs_.Append(WinPath(dir_, "no\\log.txt"), "x"); });
}

TEST_F(OsFileSystemTest, MakeExecutableAddsExecuteWhereReadIs) {
  WriteFile(dir_ / "a.exe", "x");
  WriteFile(dir_ / "b.exe", "x");
  fs::permissions(dir_ / "a.exe", fs::perms(0640));
  fs::permissions(dir_ / "b.exe", fs::perms(0604));
  fs_.MakeExecutable(WinPath(dir_, "a.exe"));
  fs_.MakeExecutable(WinPath(dir_, "b.exe"));
  EXPECT_EQ(Perms(dir_ / "a.exe"), fs::perms(0750));
  EXPECT_EQ(Perms(dir_ / "b.exe"), fs::perms(0705));
  ExpectErrno(ENOENT, [&] { fs_.MakeExecutable(WinPath(dir_, "missing.exe")); });
}

TEST_F(OsFileSystemTest, WriteWholeReplacesKeepingPermissionsAndLeavesNoTemporary) {
  fs_.WriteWhole(WinPath(dir_, "journal.txt"), "first");
  EXPECT_EQ(ReadFile(dir_ / "journal.txt"), "first");
  EXPECT_EQ(Perms(dir_ / "journal.txt"), fs::perms(0644));
  fs::permissions(dir_ / "journal.txt", fs::perms(0600));
  fs_.WriteWhole(WinPath(dir_, "journal.txt"), "second");
  EXPECT_EQ(ReadFile(dir_ / "journal.txt"), "second");
  EXPECT_EQ(Perms(dir_ / "journal.txt"), fs::perms(0600));
  EXPECT_EQ(Entries(dir_.path()), std::set<std::string>{"journal.txt"});
  ExpectErrno(ENOENT, [&] { fs_.WriteWhole(WinPath(dir_, "no\\journal.txt"), "x"); });
}

// What keeps a file from being replaced or a folder from taking one: a
// read-only mount stands for the rights a user lacks (root ignores
// permission bits), where the test may mount.
TEST_F(OsFileSystemTest, AccessChecksTellMissingFromDeniedAndChangeNothing) {
  fs::create_directories(dir_ / "open");
  fs::create_directories(dir_ / "locked");
  WriteFile(dir_ / "open/a.dll", "a");
  WriteFile(dir_ / "locked/b.dll", "b");
  struct Case {
    const char* what;
    platform::AccessCheck check;
    platform::Access expected;
  };
  const std::vector<Case> always = {
      {"a folder that takes files", fs_.CanWriteIn(WinPath(dir_, "open")),
       platform::Access::kAllowed},
      {"no such folder", fs_.CanWriteIn(WinPath(dir_, "none")), platform::Access::kMissing},
      {"a file for a folder", fs_.CanWriteIn(WinPath(dir_, "open\\a.dll")),
       platform::Access::kMissing},
      {"a file that may be replaced", fs_.CanReplace(WinPath(dir_, "open\\a.dll")),
       platform::Access::kAllowed},
      {"no such file", fs_.CanReplace(WinPath(dir_, "open\\none.dll")), platform::Access::kMissing},
  };
  for (const Case& c : always) EXPECT_EQ(c.check.access, c.expected) << c.what;
  EXPECT_EQ(Entries(dir_ / "open"), std::set<std::string>{"a.dll"});  // the probe went

  const std::string locked = (dir_ / "locked").string();
  if (mount(locked.c_str(), locked.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "cannot mount here";
  }
  const bool read_only =
      mount(nullptr, locked.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
  const platform::AccessCheck folder = fs_.CanWriteIn(WinPath(dir_, "locked"));
  const platform::AccessCheck file = fs_.CanReplace(WinPath(dir_, "locked\\b.dll"));
  umount2(locked.c_str(), MNT_DETACH);
  ASSERT_TRUE(read_only);
  EXPECT_EQ(folder.access, platform::Access::kDenied);
  EXPECT_EQ(folder.reason, std::strerror(EROFS));
  EXPECT_EQ(file.access, platform::Access::kDenied);
}

}  // namespace
}  // namespace mb::posix
