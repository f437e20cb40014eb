// Target folders in the Windows build: the roots Windows has (a drive, the
// current drive's top, a network share) are never made, only the levels
// below them; a folder that cannot be made fails the component's pass
// visibly (message 3, a new run) instead of listing nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "agent/frm_tray.h"
#include "headless/fixed_process.h"
#include "helpers/recording_window_system.h"
#include "helpers/temp_dir.h"
#include "platform/win32/win32_codepage.h"
#include "platform/win32/win32_filesystem.h"
#include "platform/win32/win32_profile.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_windows.h"

namespace mb::win32 {
namespace {

// The real file system, recording the folders it is asked to make.
class RecordingFileSystem : public Win32FileSystem {
 public:
  std::vector<std::string> made;
  void CreateDirectory(const std::string& path) override {
    made.push_back(path);
    Win32FileSystem::CreateDirectory(path);
  }
};

class Win32TargetFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    process.install = dir.str();
    std::filesystem::create_directories(dir / "update");
    tray.State().UpdateDir = process.install + "\\update";
    tray.State().InstallIniPath = tray.State().UpdateDir + "\\install_version.ini";
    tray.Splash().Show();  // as every run shows it first
  }
  // The current folder's drive is the one "\dir" names.
  std::string FromTheTop(const std::string& rel) {
    SetCurrentDirectoryW(Utf8ToWide(process.install).c_str());
    return process.install.substr(2) + "\\" + rel;  // without "C:"
  }

  test::TempDir dir;
  RecordingFileSystem fs;
  Win32ProfileStore profiles;
  Win32CodePage codepage;
  test::RecordingWindowSystem windows;
  headless::FixedProcess process;
  platform::Platform p{.profiles = &profiles,
                       .fs = &fs,
                       .codepage = &codepage,
                       .windows = &windows,
                       .process = &process};
  frmTray tray{p};
};

TEST_F(Win32TargetFolders, RootsAreADriveTheCurrentDrivesTopOrAShare) {
  EXPECT_EQ(fs.RootLength("C:\\Windows\\Temp"), 2u);
  EXPECT_EQ(fs.RootLength("c:/x"), 2u);
  EXPECT_EQ(fs.RootLength("\\dir\\sub"), 1u);
  EXPECT_EQ(fs.RootLength("\\\\server\\share\\dir"), 14u);
  for (const char* none : {"sub", "C:sub", "", "\\\\server", "\\\\?\\C:\\x", "\\\\.\\pipe\\x"}) {
    EXPECT_EQ(fs.RootLength(none), std::nullopt) << none;
  }
}

TEST_F(Win32TargetFolders, OnlyTheLevelsBelowTheRootAreMade) {
  const std::filesystem::path cwd = std::filesystem::current_path();
  tray.MakeDirPath(FromTheTop("top\\deep"));
  std::filesystem::current_path(cwd);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "top" / "deep"));

  fs.made.clear();
  EXPECT_THROW(tray.MakeDirPath("\\\\127.0.0.1\\mb-no-such-share\\a\\b"), Error);
  EXPECT_EQ(fs.made, std::vector<std::string>{"\\\\127.0.0.1\\mb-no-such-share\\a"});
  fs.made.clear();
  EXPECT_THROW(tray.MakeDirPath("sub\\a"), Error);
  EXPECT_TRUE(fs.made.empty());
}

// Wine serves "\\server\share" from $WINEPREFIX/dosdevices/unc/server/share:
// a share made there is used, and only the levels below it are made.
TEST_F(Win32TargetFolders, AShareIsUsedBelowItsRoot) {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix == nullptr || *prefix == '\0') GTEST_SKIP() << "not under Wine with WINEPREFIX";
  const std::string server = "mbtest" + std::to_string(GetCurrentProcessId());
  const std::filesystem::path unc =
      std::filesystem::path("Z:" + std::string(prefix)) / "dosdevices" / "unc" / server;
  std::filesystem::create_directories(unc / "share");
  fs.made.clear();
  tray.MakeDirPath("\\\\" + server + "\\share\\a\\b");
  const bool made = std::filesystem::is_directory(unc / "share" / "a" / "b");
  std::filesystem::remove_all(unc);
  EXPECT_TRUE(made);
  EXPECT_EQ(fs.made, (std::vector<std::string>{"\\\\" + server + "\\share\\a",
                                               "\\\\" + server + "\\share\\a\\b"}));
}

// A drive letter that names no drive here, or none.
std::string MissingDriveRoot() {
  for (char letter = 'Q'; letter <= 'Y'; ++letter) {
    const std::string root = std::string(1, letter) + ":\\";
    if (GetDriveTypeA(root.c_str()) == DRIVE_NO_ROOT_DIR) return root;
  }
  return {};
}

// A share that is not there (below its root or the root itself), a drive
// that is not there, or a relative folder: the plug-in's pass fails
// visibly, before anything is fetched (this test has no network at all).
TEST_F(Win32TargetFolders, FolderThatCannotBeMadeFailsThePass) {
  std::vector<std::string> targets = {"\\\\127.0.0.1\\mb-no-such-share\\dir",
                                      "\\\\127.0.0.1\\mb-no-such-share", "sub"};
  if (!MissingDriveRoot().empty()) targets.push_back(MissingDriveRoot());
  for (const std::string& target : targets) {
    test::WriteFile(dir / "update" / "express_plugin.ini",
                    "[DOWNLOAD]\r\nTOTAL_FILES=1\r\nLAST_VERSION=1.1\r\n[FILE_1]\r\nNAME=a.dll\r\n"
                    "ORG_NAME=a.dll\r\nTARGET_DIR=" +
                        target + "\r\n");
    frmTray run{p};  // a run's state, afresh
    run.State() = tray.State();
    run.Splash().Show();
    windows.statuses.clear();
    run.subDownLoadNewVersion(kExpressPlugin);
    EXPECT_TRUE(run.PlanRefused()) << target;
    EXPECT_FALSE(run.State().RetryPending) << target;
    ASSERT_FALSE(windows.statuses.empty()) << target;
    EXPECT_EQ(windows.statuses.back(), run.GetMsgByLangCode(3)) << target;
    EXPECT_TRUE(std::filesystem::exists(dir / "update" / "express_plugin.ini"));
  }
}

}  // namespace
}  // namespace mb::win32
