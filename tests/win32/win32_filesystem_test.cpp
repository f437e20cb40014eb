// The file-system backend on real folders: what counts as an ordinary
// file, errors with the system's code and text, and copies that replace the
// destination completely or not at all.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "helpers/temp_dir.h"
#include "install/update_folder.h"
#include "platform/win32/win32_filesystem.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_windows.h"

namespace mb::win32 {
namespace {

class Win32FileSystemTest : public ::testing::Test {
 protected:
  std::string P(const std::string& rel) { return dir_.str() + "\\" + rel; }
  int EntryCount() {
    int n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir_.path())) ++n;
    return n;
  }
  std::string ReadAll(const std::string& path) {
    auto in = fs_.OpenRead(path);
    std::string out;
    char buf[7];  // small, so several reads are needed
    for (std::size_t n; (n = in->Read(buf, sizeof buf)) > 0;) out.append(buf, n);
    return out;
  }

  test::TempDir dir_;
  Win32FileSystem fs_;
};

TEST_F(Win32FileSystemTest, OrdinaryFilesAreNeitherDirectoriesNorHiddenNorSystem) {
  test::WriteFile(dir_ / "plain.txt", "x");
  test::WriteFile(dir_ / "hidden.txt", "x");
  test::WriteFile(dir_ / "system.txt", "x");
  SetFileAttributesW(Utf8ToWide(P("hidden.txt")).c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesW(Utf8ToWide(P("system.txt")).c_str(), FILE_ATTRIBUTE_SYSTEM);
  fs_.CreateDirectory(P("update"));

  EXPECT_TRUE(fs_.IsOrdinaryFile(P("plain.txt")));
  EXPECT_FALSE(fs_.IsOrdinaryFile(P("hidden.txt")));
  EXPECT_FALSE(fs_.IsOrdinaryFile(P("system.txt")));
  EXPECT_FALSE(fs_.IsOrdinaryFile(P("update")));
  EXPECT_FALSE(fs_.IsOrdinaryFile(P("missing.txt")));
  EXPECT_TRUE(fs_.Exists(P("update")));
  EXPECT_TRUE(fs_.Exists(P("hidden.txt")));
  EXPECT_FALSE(fs_.Exists(P("missing.txt")));
}

// The temporaries of a copy and of a download are named by the rule both
// builds share, so the update folder's clean-up knows them here too: a
// stale one goes, a fresh one and the files the agent keeps stay.
TEST_F(Win32FileSystemTest, LeftoverTemporariesAreKnownAndCleared) {
  const std::wstring dest = Utf8ToWide(P("x.dll"));
  for (auto kind : {platform::TemporaryKind::kCopy, platform::TemporaryKind::kDownload}) {
    const std::wstring tmp = TempNameBeside(dest, kind);
    const std::string name = std::filesystem::path(tmp).filename().string();
    EXPECT_TRUE(platform::IsTemporaryNameOf(name, "x.dll")) << name;
    test::WriteFile(std::filesystem::path(tmp), "partial");
  }
  test::WriteFile(dir_ / "update_log.txt", "log");
  fs_.CreateDirectory(P("sub"));
  const auto stale = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
  int temporaries = 0;
  for (const platform::FolderEntry& e : fs_.ListFolder(dir_.str())) {
    EXPECT_EQ(e.is_file, e.name != "sub") << e.name;
    EXPECT_LT(e.age_seconds, 60) << e.name;
    if (e.name[0] == '.') {
      ++temporaries;
      std::filesystem::last_write_time(dir_ / e.name, stale);
    }
  }
  EXPECT_EQ(temporaries, 2);
  test::WriteFile(dir_ / ".x.dll.Fresh1", "another agent's");
  EXPECT_EQ(ClearUpdateFolder(fs_, dir_.str(), [](const std::string&) { return false; }), 2);
  EXPECT_EQ(EntryCount(), 3);  // the log, the fresh temporary, the folder
}

TEST_F(Win32FileSystemTest, FailuresCarryTheWindowsCodeAndItsText) {
  try {
    fs_.DeleteFile(P("missing.txt"));
    FAIL() << "deleting a missing file succeeded";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(std::string(e.what()), ErrorText(ERROR_FILE_NOT_FOUND));
  }
  fs_.CreateDirectory(P("d"));
  EXPECT_THROW(fs_.CreateDirectory(P("d")), Error);
  EXPECT_THROW(fs_.CreateDirectory(P("no\\such\\parent")), Error);
  EXPECT_THROW(fs_.OpenRead(P("missing.txt")), Error);
}

TEST_F(Win32FileSystemTest, CopyReplacesTheDestinationAndLeavesNoTemporaryFile) {
  test::WriteFile(dir_ / "new.dll", "new contents");
  test::WriteFile(dir_ / "old.dll", "old contents that are longer");
  fs_.CopyFile(P("new.dll"), P("old.dll"));
  EXPECT_EQ(test::ReadFile(dir_ / "old.dll"), "new contents");
  EXPECT_EQ(test::ReadFile(dir_ / "new.dll"), "new contents");
  EXPECT_EQ(EntryCount(), 2);
}

TEST_F(Win32FileSystemTest, FailedCopyLeavesTheDestinationAsItWas) {
  test::WriteFile(dir_ / "dest.dll", "kept");
  EXPECT_THROW(fs_.CopyFile(P("missing.dll"), P("dest.dll")), Error);
  EXPECT_EQ(test::ReadFile(dir_ / "dest.dll"), "kept");
  // A destination in use cannot be replaced: the copy fails, nothing is lost.
  test::WriteFile(dir_ / "src.dll", "new");
  HANDLE locked = CreateFileW(Utf8ToWide(P("dest.dll")).c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  EXPECT_THROW(fs_.CopyFile(P("src.dll"), P("dest.dll")), Error);
  CloseHandle(locked);
  EXPECT_EQ(test::ReadFile(dir_ / "dest.dll"), "kept");
  EXPECT_EQ(EntryCount(), 2);
}

TEST_F(Win32FileSystemTest, RenameReplacesAnExistingFile) {
  test::WriteFile(dir_ / "a.tmp", "A");
  test::WriteFile(dir_ / "b.exe", "B");
  fs_.Rename(P("a.tmp"), P("b.exe"));
  EXPECT_EQ(test::ReadFile(dir_ / "b.exe"), "A");
  EXPECT_FALSE(fs_.Exists(P("a.tmp")));
}

TEST_F(Win32FileSystemTest, AppendCreatesThenExtendsAndReadsBack) {
  fs_.Append(P("update_log.txt"), "line 1\r\n");
  fs_.Append(P("update_log.txt"), "line 2\r\n");
  EXPECT_EQ(ReadAll(P("update_log.txt")), "line 1\r\nline 2\r\n");
  fs_.Append(P("empty.txt"), "");
  EXPECT_EQ(ReadAll(P("empty.txt")), "");
}

TEST_F(Win32FileSystemTest, NamesOutsideTheAnsiCodePageWork) {
  const std::string name = "\xEC\x97\x85\xEB\x8D\xB0\xEC\x9D\xB4\xED\x8A\xB8.txt";  // Korean
  fs_.Append(P(name), "k");
  EXPECT_TRUE(fs_.IsOrdinaryFile(P(name)));
  fs_.CopyFile(P(name), P("copy.txt"));
  EXPECT_EQ(ReadAll(P("copy.txt")), "k");
  fs_.DeleteFile(P(name));
  EXPECT_FALSE(fs_.Exists(P(name)));
}

}  // namespace
}  // namespace mb::win32
