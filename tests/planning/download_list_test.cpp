// Planning a component's downloads from a manifest on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "agent/bas_win_api.h"
#include "faults/fault_wrappers.h"
#include "helpers/agent_harness.h"

namespace mb::test {
namespace {

namespace fs = std::filesystem;

class DownloadListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& s = h.tray->State();
    s.ServerUrl = "http://srv";
    s.VirtualDir = "/v";
    s.FolderParam = "&Folder=ORG";
    s.UpdateDir = h.install + "\\update";
    s.InstallIniPath = s.UpdateDir + "\\install_version.ini";
    fs::create_directories(h.update);
  }
  void Manifest(const std::string& body) { WriteFile(h.UpdatePath("express_plugin.ini"), body); }
  static std::string FileSection(int i, const std::string& name, const std::string& org,
                                 const std::string& dir, const std::string& version = "1") {
    return "[FILE_" + std::to_string(i) + "]\r\nNAME=" + name + "\r\nVERSION=" + version +
           "\r\nORG_NAME=" + org + "\r\nTARGET_DIR=" + dir + "\r\nSELF_REGISTER=Y\r\nHASH=h" +
           std::to_string(i) + "  \r\n";
  }
  std::int16_t Build(DownloadList& list, std::int16_t kind = kExpressPlugin) {
    return h.tray->BuildDownloadList(kind, list);
  }
  bool ManifestExists() const { return fs::exists(h.UpdatePath("express_plugin.ini")); }
  AgentHarness h;
};

TEST_F(DownloadListTest, OnlyMissingOrChangedFilesAreListed) {
  WriteFile(h.install + "/a.dll", "old");
  WriteFile(h.install + "/c.dll", "old");
  WriteFile(h.UpdatePath("install_version.ini"), "[c.dll]\r\nVERSION=1\r\n");
  Manifest("[DOWNLOAD]\r\nTOTAL_FILES=3\r\nLAST_VERSION=2.0  \r\n" +
           FileSection(1, "a.dll", "a.dll", ".", "9") +  // present, same name: never refetched
           FileSection(2, "b.new", "b.dll", ".") +       // renamed and missing
           FileSection(3, "c.new", "c.dll", "."));       // renamed, recorded version equal
  DownloadList list;
  ASSERT_EQ(Build(list), 1);
  ASSERT_EQ(list.size(), 1u);
  const FileRecord& r = list[0];
  EXPECT_EQ(r.Name, "b.new");
  EXPECT_EQ(r.OrgName, "b.dll");
  EXPECT_EQ(r.TargetDir, h.install);
  EXPECT_EQ(r.BackUp, "YES");
  EXPECT_EQ(r.SelfRegister, "Y");
  EXPECT_EQ(r.Hash, "h2");          // trailing spaces removed
  EXPECT_EQ(r.LastVersion, "2.0");  // as read (the profile functions trim values)
  EXPECT_EQ(r.DownloadUrl,
            "http://srv/v/download/express_exe.aspx?program=671*619*683*674*692*&Folder=ORG");
  EXPECT_FALSE(ManifestExists());
}

TEST_F(DownloadListTest, RenamedFileWithOtherRecordedVersionIsFetched) {
  WriteFile(h.install + "/c.dll", "old");
  WriteFile(h.UpdatePath("install_version.ini"), "[C.DLL]\r\nVERSION=0.9\r\n");
  Manifest("[DOWNLOAD]\r\nTOTAL_FILES=1\r\n" + FileSection(1, "C.dll", "c.dll", ".", "1.0"));
  DownloadList list;
  EXPECT_EQ(Build(list), 1);
}

TEST_F(DownloadListTest, TargetDirectoriesResolvedAndCreated) {
  Manifest("[DOWNLOAD]\r\nTOTAL_FILES=3\r\n" + FileSection(1, "a", "a", "system32") +
           FileSection(2, "b", "b", ".\\sub\\deep") + FileSection(3, "c", "c", ".x"));
  DownloadList list;
  ASSERT_EQ(Build(list), 3);
  EXPECT_EQ(list[0].TargetDir, h.install + "\\system32");
  EXPECT_EQ(list[1].TargetDir, h.install + "\\sub\\deep");
  EXPECT_EQ(list[2].TargetDir, h.install + "x");
  EXPECT_TRUE(fs::is_directory(h.install + "/sub/deep"));
  EXPECT_TRUE(fs::is_directory(h.install + "/system32"));
}

// A folder that is not absolute here ("System32" is no keyword, only
// "system32" is; POSIX has no drives), or that cannot be made, fails the
// list; the manifest stays, as on any failure of the list.
TEST_F(DownloadListTest, TargetFolderThatCannotBeMadeFailsTheList) {
  WriteFile(h.install + "/file", "x");
  for (const std::string dir :
       {"System32", "sub", "", "C:\\Windows\\Temp", ".\\file\\below", ".\\file"}) {
    Manifest("[DOWNLOAD]\r\nTOTAL_FILES=2\r\n" + FileSection(1, "a", "a", ".") +
             FileSection(2, "b", "b", dir));
    DownloadList list;
    EXPECT_EQ(Build(list), 0) << dir;
    EXPECT_TRUE(ManifestExists()) << dir;
  }
  EXPECT_FALSE(fs::exists("sub"));
  EXPECT_FALSE(fs::exists("C:"));
}

TEST_F(DownloadListTest, EmptyZeroOrNegativeTotalListsNothingAndDeletesTheManifest) {
  for (const char* total : {"", "0", "-1"}) {
    Manifest(std::string("[DOWNLOAD]\r\nTOTAL_FILES=") + total + "\r\n" +
             FileSection(1, "a", "a", "."));
    DownloadList list;
    EXPECT_EQ(Build(list), 0) << total;
    EXPECT_FALSE(ManifestExists()) << total;
  }
}

// TOTAL_FILES is converted as the start delay is: fractions rounded, an
// exact half to the even neighbour.
TEST_F(DownloadListTest, FractionalTotalIsRoundedHalfToEven) {
  for (const auto& [total, count] : std::vector<std::pair<std::string, int>>{
           {"1.0", 1}, {"2.5", 2}, {"1.5", 2}, {" +2.6", 3}, {"0.4", 0}, {"-0.5", 0}}) {
    Manifest("[DOWNLOAD]\r\nTOTAL_FILES=" + total + "\r\n" + FileSection(1, "a", "a", ".") +
             FileSection(2, "b", "b", ".") + FileSection(3, "c", "c", "."));
    DownloadList list;
    EXPECT_EQ(Build(list), count) << total;
    EXPECT_FALSE(ManifestExists()) << total;
  }
}

TEST_F(DownloadListTest, BadTotalFailsAndKeepsTheManifest) {
  for (const char* total : {"abc", "99999", "32768", "32767.5", "1x", "1e3", "."}) {
    Manifest(std::string("[DOWNLOAD]\r\nTOTAL_FILES=") + total + "\r\n" +
             FileSection(1, "a", "a", "."));
    DownloadList list;
    EXPECT_EQ(Build(list), 0) << total;
    EXPECT_TRUE(ManifestExists()) << total;
  }
}

TEST_F(DownloadListTest, MissingManifestGivesZero) {
  DownloadList list;
  EXPECT_EQ(Build(list), 0);
}

TEST_F(DownloadListTest, AgentUrlsCarryNoVersionOutlookUrlsCarryTheYear) {
  WriteFile(h.registry_path,
            "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\Outlook.Application\\CurVer]\n@=\"Outlook.Application."
            "10\"\n");
  WriteFile(h.UpdatePath("mailbeacon_agent.ini"),
            "[DOWNLOAD]\r\nTOTAL_FILES=1\r\n" + FileSection(1, "a", "a", "."));
  WriteFile(h.UpdatePath("outlook_addin.ini"),
            "[DOWNLOAD]\r\nTOTAL_FILES=1\r\n" + FileSection(1, "a", "a", "."));
  DownloadList agent, outlook;
  ASSERT_EQ(Build(agent, kAgentComponent), 1);
  ASSERT_EQ(Build(outlook, kOutlookAddin), 1);
  EXPECT_EQ(agent[0].DownloadUrl, "http://srv/v/download/agent_exe.aspx?program=670*&Folder=ORG");
  EXPECT_EQ(outlook[0].DownloadUrl,
            "http://srv/v/download/outlook_dll.aspx?version=2002&program=670*&Folder=ORG");
}

TEST_F(DownloadListTest, MakeDirPathCreatesEachLevelButNeverTheFirstPart) {
  h.tray->MakeDirPath(h.install + "\\m\\n\\o");
  EXPECT_TRUE(fs::is_directory(h.install + "/m/n/o"));
  WriteFile(h.install + "/file", "x");
  h.tray->MakeDirPath(h.install + "\\file");  // anything existing: nothing to do
  EXPECT_TRUE(fs::is_regular_file(h.install + "/file"));
  EXPECT_THROW(h.tray->MakeDirPath(h.install + "\\file\\below"), Error);
}

// Only the levels below a path's root are made: below the top of the tree
// for "\dir", below the share for "\\server\share\dir" (which POSIX reads
// as /server/share/dir). A path without a root makes nothing anywhere.
TEST_F(DownloadListTest, MakeDirPathMakesOnlyTheLevelsBelowTheRoot) {
  std::string rooted = h.install + "/rr/deep";
  std::replace(rooted.begin(), rooted.end(), '/', '\\');
  ASSERT_EQ(rooted[0], '\\');
  h.tray->MakeDirPath(rooted);
  EXPECT_TRUE(fs::is_directory(h.install + "/rr/deep"));

  FaultyFileSystem recording(h.fs);
  std::vector<std::string> made;
  recording.rule = [&](FsCall call, const std::string& path) {
    if (call == FsCall::kCreateDirectory) made.push_back(path);
    return 0;
  };
  h.p.fs = &recording;
  EXPECT_THROW(h.tray->MakeDirPath("\\\\no-such-server\\share\\a\\b"), Error);
  EXPECT_EQ(made, std::vector<std::string>{"\\\\no-such-server\\share\\a"});
  for (const std::string path : {"sub\\a", "C:\\Windows\\Temp", "", "\\\\server", "\\\\?\\C:\\x"}) {
    EXPECT_THROW(h.tray->MakeDirPath(path), Error) << path;
  }
  EXPECT_EQ(made.size(), 1u);
  h.p.fs = &h.fs;
}

TEST(NameEncoding, NumbersFollowedBySeparator) {
  posix::IconvCodePage cp(949);
  EXPECT_EQ(basWinAPI::KeySum(), 573.0);
  EXPECT_EQ(basWinAPI::EncodeName(cp, "ab", ""), "670*671*");
  EXPECT_EQ(basWinAPI::EncodeName(cp, "  ab ", ""), "670*671*");
  EXPECT_EQ(basWinAPI::EncodeName(cp, "ab", ","), "670,671,");
  EXPECT_EQ(basWinAPI::EncodeName(cp, "   ", ""), "");
  // "한" is C7 D1 in CP949: as a signed 16-bit number -14383, plus 573.
  EXPECT_EQ(basWinAPI::EncodeName(cp, "한a", ""), "-13810*670*");
  posix::IconvCodePage latin(1252);
  EXPECT_EQ(basWinAPI::EncodeName(latin, "é", ""), std::to_string(0xE9 + 573) + "*");
}

}  // namespace
}  // namespace mb::test
