// What the updater's swaps rely on, against the real Win32 calls: a file a
// program holds without FILE_SHARE_DELETE cannot be renamed (in use), a
// loaded DLL can be renamed but not deleted, a read-only file is replaced
// and removed like any other, a folder is tried by making a file in it;
// files written whole leave nothing half written; the install's lock holds
// out every other thread of the session until it is released.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "helpers/temp_dir.h"
#include "install/file_swap.h"
#include "platform/win32/win32_filesystem.h"
#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_process.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_windows.h"

namespace mb::win32 {
namespace {

class Win32Replace : public ::testing::Test {
 protected:
  std::string P(const std::string& rel) { return dir_.str() + "\\" + rel; }
  UniqueHandle Hold(const std::string& rel, DWORD share) {
    return UniqueHandle(CreateFileW(Utf8ToWide(P(rel)).c_str(), GENERIC_READ, share, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  test::TempDir dir_;
  Win32FileSystem fs_;
};

TEST_F(Win32Replace, AFileHeldWithoutShareDeleteIsInUseAndOneSharedForDeleteIsNot) {
  test::WriteFile(dir_ / "held.dll", "old");
  test::WriteFile(dir_ / "shared.dll", "old");
  UniqueHandle held = Hold("held.dll", FILE_SHARE_READ);
  UniqueHandle shared = Hold("shared.dll", FILE_SHARE_READ | FILE_SHARE_DELETE);
  ASSERT_TRUE(held.Valid() && shared.Valid());
  EXPECT_EQ(fs_.CanReplace(P("held.dll")).access, platform::Access::kInUse);
  EXPECT_FALSE(fs_.CanReplace(P("held.dll")).reason.empty());
  EXPECT_TRUE(fs_.CanReplace(P("shared.dll")).Allowed());
  EXPECT_EQ(fs_.CanReplace(P("none.dll")).access, platform::Access::kMissing);
  EXPECT_ANY_THROW(fs_.Rename(P("held.dll"), P(".held.dll.aside-Ab12Cd")));
  held.Reset();
  EXPECT_TRUE(fs_.CanReplace(P("held.dll")).Allowed());
}

// The mail program has the add-in loaded: it is swapped by renaming, and
// its old copy waits aside until the program lets go.
TEST_F(Win32Replace, ALoadedDllIsSwappedAndItsOldCopyGoesOnceFreed) {
  std::filesystem::copy_file(std::filesystem::path(MB_BIN_DIR) / "mb_tiny.dll", dir_ / "addin.dll");
  test::WriteFile(dir_ / "addin.new", "new addin");
  HMODULE loaded = LoadLibraryW(Utf8ToWide(P("addin.dll")).c_str());
  ASSERT_NE(loaded, nullptr);
  EXPECT_TRUE(fs_.CanReplace(P("addin.dll")).Allowed());
  const FileSwap swap{dir_.str(), "addin.dll", P("addin.new"), "Ab12Cd", true};
  StageSwap(fs_, swap);
  CommitSwap(fs_, swap);
  EXPECT_EQ(test::ReadFile(dir_ / "addin.dll"), "new addin");
  EXPECT_FALSE(RemoveLeftover(fs_, swap.Aside()));  // still mapped
  FreeLibrary(loaded);
  EXPECT_TRUE(RemoveLeftover(fs_, swap.Aside()));
  EXPECT_FALSE(std::filesystem::exists(dir_ / ".addin.dll.aside-Ab12Cd"));
}

TEST_F(Win32Replace, AReadOnlyFileIsReplacedAndRemovedLikeAnyOther) {
  test::WriteFile(dir_ / "ro.dll", "old");
  test::WriteFile(dir_ / "ro.new", "new");
  SetFileAttributesW(Utf8ToWide(P("ro.dll")).c_str(), FILE_ATTRIBUTE_READONLY);
  const FileSwap swap{dir_.str(), "ro.dll", P("ro.new"), "Cd34Ef", true};
  StageSwap(fs_, swap);
  CommitSwap(fs_, swap);
  EXPECT_EQ(test::ReadFile(dir_ / "ro.dll"), "new");
  EXPECT_TRUE(RemoveLeftover(fs_, swap.Aside()));
  test::WriteFile(dir_ / "ro2.dll", "x");
  SetFileAttributesW(Utf8ToWide(P("ro2.dll")).c_str(), FILE_ATTRIBUTE_READONLY);
  fs_.DeleteFile(P("ro2.dll"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "ro2.dll"));
}

TEST_F(Win32Replace, FoldersAreTriedByMakingAFileAndFilesAreWrittenWhole) {
  EXPECT_TRUE(fs_.CanWriteIn(dir_.str()).Allowed());
  EXPECT_EQ(fs_.CanWriteIn(P("none")).access, platform::Access::kMissing);
  fs_.WriteWhole(P("journal.txt"), "first");
  SetFileAttributesW(Utf8ToWide(P("journal.txt")).c_str(), FILE_ATTRIBUTE_HIDDEN);
  fs_.WriteWhole(P("journal.txt"), "second");
  EXPECT_EQ(test::ReadFile(dir_ / "journal.txt"), "second");
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir_.path())) ++entries;
  EXPECT_EQ(entries, 1);  // no probe, no temporary left
}

// Links (a symbolic link; a junction is a reparse point alike): seen as
// links, removed as links leaving what they lead to, never appended through.
TEST_F(Win32Replace, LinksAreSeenRemovedAsLinksAndNeverWrittenThrough) {
  std::filesystem::create_directories(dir_ / "target");
  test::WriteFile(dir_ / "target" / "precious.txt", "precious");
  test::WriteFile(dir_ / "victim.txt", "victim");
  const auto flags = SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2;  // allow unprivileged create
  if (!CreateSymbolicLinkW(Utf8ToWide(P("folder-link")).c_str(), Utf8ToWide(P("target")).c_str(),
                           flags) ||
      !CreateSymbolicLinkW(Utf8ToWide(P("file-link")).c_str(), Utf8ToWide(P("victim.txt")).c_str(),
                           0x2)) {
    GTEST_SKIP() << "no symbolic links here (error " << GetLastError() << ")";
  }
  const DWORD attrs = GetFileAttributesW(Utf8ToWide(P("folder-link")).c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
    // Wine 8 makes a Unix link and follows it for every program: no
    // program can tell it from a folder there, nor be led astray by it more
    // than by the folder itself.
    GTEST_SKIP() << "links here are not reparse points (Wine follows them)";
  }
  EXPECT_TRUE(fs_.IsLink(P("folder-link")));
  EXPECT_TRUE(fs_.IsLink(P("file-link")));
  EXPECT_FALSE(fs_.IsLink(P("target")));
  int links = 0;
  for (const platform::FolderEntry& e : fs_.ListFolder(dir_.str())) links += e.is_link ? 1 : 0;
  EXPECT_EQ(links, 2);
  EXPECT_ANY_THROW(fs_.Append(P("file-link"), "appended"));
  EXPECT_EQ(test::ReadFile(dir_ / "victim.txt"), "victim");
  fs_.RemoveLink(P("folder-link"));
  fs_.RemoveLink(P("file-link"));
  EXPECT_EQ(test::ReadFile(dir_ / "target" / "precious.txt"), "precious");
  EXPECT_EQ(test::ReadFile(dir_ / "victim.txt"), "victim");
  EXPECT_FALSE(fs_.Exists(P("folder-link")));
  EXPECT_ANY_THROW(fs_.RemoveLink(P("target")));  // a folder is no link
}

TEST(Win32InstanceLock, HoldsOutOtherThreadsUntilReleased) {
  Win32Process process;
  const std::string dir = "C:\\mb-lock-test";
  auto first = process.TryLockInstance(dir);
  ASSERT_TRUE(first);
  bool other_got_it = true;
  std::thread([&] {
    other_got_it = process.TryLockInstance("c:\\MB-LOCK-TEST") != nullptr;
  }).join();
  EXPECT_FALSE(other_got_it);  // letters folded: the same install
  bool other_dir = false;
  std::thread([&] { other_dir = process.TryLockInstance("C:\\other") != nullptr; }).join();
  EXPECT_TRUE(other_dir);
  first.reset();
  std::thread([&] { other_got_it = process.TryLockInstance(dir) != nullptr; }).join();
  EXPECT_TRUE(other_got_it);
}

}  // namespace
}  // namespace mb::win32
