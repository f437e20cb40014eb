// One component's pass against a scripted loopback server: downloads,
// digests, the updater's direct install, the records, and every failure.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "agent/bas_win_api.h"
#include "helpers/agent_harness.h"
#include "helpers/scripted_server.h"
#include "support/md5.h"

namespace mb::test {
namespace {

namespace fs = std::filesystem;

struct ServedFile {
  std::string name, org_name, body, hash;
  bool served = true;
};

class ComponentPass : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& s = h.tray->State();
    s.ServerUrl = server.Url();
    s.VirtualDir = "/v";
    s.FolderParam = "&Folder=ORG";
    s.Language = kEnglish;
    s.UpdateDir = h.install + "\\update";
    s.InstallIniPath = s.UpdateDir + "\\install_version.ini";
    s.DownloadIniPath = s.UpdateDir + "\\mailbeacon_download.ini";
    fs::create_directories(h.update);
  }
  // Publishes an agent manifest of the files, release "2.0".
  void Publish(const std::vector<ServedFile>& files) {
    std::string m =
        "[DOWNLOAD]\r\nTOTAL_FILES=" + std::to_string(files.size()) + "\r\nLAST_VERSION=2.0\r\n";
    int i = 0;
    for (const auto& f : files) {
      const std::string org = f.org_name.empty() ? f.name : f.org_name;
      ++i;
      m += "[FILE_" + std::to_string(i) + "]\r\nNAME=" + f.name + "\r\nVERSION=v" +
           std::to_string(i) + "\r\nORG_NAME=" + org +
           "\r\nTARGET_DIR=.\r\nSELF_REGISTER=N\r\nHASH=" +
           (f.hash.empty() ? Md5HexOf(f.body) : f.hash) + "\r\n";
      if (f.served) {
        server.Answer("/v/download/agent_exe.aspx?program=" +
                          basWinAPI::EncodeName(h.codepage, f.name, "") + "&Folder=ORG",
                      f.body);
      }
    }
    WriteFile(h.UpdatePath("mailbeacon_agent.ini"), m);
  }
  void Pass() { h.tray->subDownLoadNewVersion(kAgentComponent); }
  std::string Pending(const std::string& section, const std::string& key) {
    return h.tray->GetVal(section, key, h.tray->State().DownloadIniPath);
  }
  std::string Record(const std::string& section, const std::string& key) {
    return h.tray->GetVal(section, key, h.tray->State().InstallIniPath);
  }
  ScriptedServer server;
  AgentHarness h;
};

TEST_F(ComponentPass, UpToDateOnlyMarksTheDisplayComplete) {
  WriteFile(h.UpdatePath("install_version.ini"), "[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=2.0\r\n");
  Publish({{"a.dll", "", "A", ""}});
  Pass();
  EXPECT_FALSE(h.tray->State().UpdateDue);
  EXPECT_EQ(h.tray->State().FilesToDownload, 0);
  EXPECT_TRUE(h.tray->Splash().Complete());
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_TRUE(fs::exists(h.UpdatePath("mailbeacon_agent.ini")));  // kept when up to date
}

TEST_F(ComponentPass, OutOfDateWithNothingToFetch) {
  WriteFile(h.install + "/a.dll", "present");
  Publish({{"a.dll", "", "A", ""}});
  Pass();
  EXPECT_TRUE(h.tray->State().UpdateDue);
  EXPECT_EQ(h.tray->State().FilesToDownload, 0);
  EXPECT_FALSE(h.tray->State().RetryPending);
  EXPECT_TRUE(h.windows.statuses.empty());
}

TEST_F(ComponentPass, DeferredFilesAreRecordedForTheUpdater) {
  Publish({{"a.dll", "", "AAA", ""}, {"b.new", "b.dll", "BBB", ""}, {"c.dll", "", "CCC", ""}});
  h.tray->Splash().Show();
  Pass();
  const auto& s = h.tray->State();
  EXPECT_TRUE(s.UpdateDue);
  EXPECT_EQ(s.FilesToDownload, 3);
  EXPECT_FALSE(s.RetryPending);
  EXPECT_EQ(h.windows.statuses,
            (std::vector<std::string>{"Label1", "Downloading files..", "*", "**", "***"}));
  EXPECT_EQ(ReadFile(h.UpdatePath("b.new")), "BBB");
  EXPECT_EQ(Pending("AGENT_DOWNLOAD", "TOTAL_FILES"), "3");
  EXPECT_EQ(Pending("AGENT_FILE_2", "NAME"), "b.new");
  EXPECT_EQ(Pending("AGENT_FILE_2", "ORG_NAME"), "b.dll");
  EXPECT_EQ(Pending("AGENT_FILE_2", "TARGET_DIR"), h.install);
  EXPECT_EQ(Pending("AGENT_FILE_2", "BACK_UP"), "YES");
  EXPECT_EQ(Pending("AGENT_FILE_1", "BACK_UP"), "NO");
  EXPECT_EQ(Pending("AGENT_FILE_3", "VERSION"), "v3");
  EXPECT_EQ(Record("AGENT_DOWNLOAD", "LAST_VERSION"), "2.0");
  // The keys of a pending file are written in their fixed order.
  const std::string list = ReadFile(h.UpdatePath("mailbeacon_download.ini"));
  const auto at = [&](const char* k) { return list.find(k, list.find("[AGENT_FILE_1]")); };
  EXPECT_LT(at("NAME="), at("VERSION="));
  EXPECT_LT(at("VERSION="), at("ORG_NAME="));
  EXPECT_LT(at("ORG_NAME="), at("TARGET_DIR="));
  EXPECT_LT(at("TARGET_DIR="), at("SELF_REGISTER="));
  EXPECT_LT(at("SELF_REGISTER="), at("BACK_UP="));
  const std::string log = ReadFile(h.UpdatePath("update_log.txt"));
  EXPECT_NE(log.find("[2006-06-01 14:05:09] " + h.codepage.ToAnsi("다운로드성공 : ") + h.install +
                     "\\b.dll\r\n"),
            std::string::npos);
  EXPECT_TRUE(h.tray->Splash().Complete());
}

TEST_F(ComponentPass, UpdaterFileIsInstalledDirectlyWithBackup) {
  WriteFile(h.install + "/SwiftPatcher_Mailbeacon.exe", "old updater");
  WriteFile(h.install + "/SwiftPatcher_Mailbeacon.exe_old", "older backup");
  Publish({{"SwiftPatcher_Mailbeacon.exe.new", "SwiftPatcher_Mailbeacon.exe", "new updater", ""},
           {"a.dll", "", "A", ""}});
  Pass();
  EXPECT_EQ(ReadFile(h.install + "/SwiftPatcher_Mailbeacon.exe"), "new updater");
  EXPECT_EQ(ReadFile(h.install + "/SwiftPatcher_Mailbeacon.exe_old"), "old updater");
  EXPECT_FALSE(fs::exists(h.UpdatePath("SwiftPatcher_Mailbeacon.exe.new")));
  struct stat st {};
  ASSERT_EQ(stat((h.install + "/SwiftPatcher_Mailbeacon.exe").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IXUSR, 0u);
  EXPECT_EQ(Record("SwiftPatcher_Mailbeacon.exe", "VERSION"), "v1");
  EXPECT_EQ(Record("SwiftPatcher_Mailbeacon.exe", "UPDATE"), "2006-06-01 14:05:09");
  EXPECT_EQ(Pending("AGENT_DOWNLOAD", "TOTAL_FILES"), "1");
  EXPECT_EQ(Pending("AGENT_FILE_1", "NAME"), "a.dll");
  EXPECT_EQ(h.tray->Splash().CurrentCaption(), "*");
}

TEST_F(ComponentPass, AllInstalledDirectlyLeavesNoPendingFileAndNoRelease) {
  Publish({{"SwiftPatcher_Mailbeacon.exe", "", "new updater", ""}});
  Pass();
  EXPECT_EQ(Pending("AGENT_DOWNLOAD", "TOTAL_FILES"), "0");
  EXPECT_EQ(Record("AGENT_DOWNLOAD", "LAST_VERSION"), "");
  EXPECT_FALSE(fs::exists(h.UpdatePath("update_log.txt")));
  EXPECT_FALSE(h.tray->State().RetryPending);
}

TEST_F(ComponentPass, NameDifferingOnlyInCaseIsDeferred) {
  Publish({{"swiftpatcher_mailbeacon.exe", "", "x", ""}});
  Pass();
  EXPECT_EQ(Pending("AGENT_DOWNLOAD", "TOTAL_FILES"), "1");
  EXPECT_TRUE(fs::exists(h.UpdatePath("swiftpatcher_mailbeacon.exe")));
}

TEST_F(ComponentPass, FirstFileFailingItsDigestIsKeptAndTheRunRepeats) {
  const std::string body = "AAA";
  std::string upper = Md5HexOf(body);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Publish({{"a.dll", "", body, upper}, {"b.dll", "", "B", ""}});
  Pass();
  EXPECT_TRUE(h.tray->State().RetryPending);
  EXPECT_EQ(h.tray->Splash().CurrentCaption(), "Downloading failure..");
  EXPECT_TRUE(fs::exists(h.UpdatePath("a.dll")));  // nothing deferred, nothing deleted
  EXPECT_FALSE(fs::exists(h.UpdatePath("mailbeacon_download.ini")));
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(ComponentPass, FailureAfterADeferredFileDeletesEveryDownload) {
  Publish({{"a.dll", "", "A", ""}, {"b.dll", "", "B", "0123456789abcdef0123456789abcdef"}});
  Pass();
  EXPECT_TRUE(h.tray->State().RetryPending);
  EXPECT_FALSE(fs::exists(h.UpdatePath("a.dll")));
  EXPECT_FALSE(fs::exists(h.UpdatePath("b.dll")));
}

TEST_F(ComponentPass, UpdaterStaysInstalledWhenALaterDownloadFails) {
  Publish({{"SwiftPatcher_Mailbeacon.exe", "", "new updater", ""}, {"b.dll", "", "B", "", false}});
  Pass();
  EXPECT_TRUE(h.tray->State().RetryPending);
  EXPECT_EQ(ReadFile(h.install + "/SwiftPatcher_Mailbeacon.exe"), "new updater");
  EXPECT_EQ(Record("SwiftPatcher_Mailbeacon.exe", "VERSION"), "v1");
}

TEST_F(ComponentPass, EmptyHashIsNotChecked) {
  Publish({{"a.dll", "", "A", " "}});  // a blank HASH reads as empty
  Pass();
  EXPECT_FALSE(h.tray->State().RetryPending);
  EXPECT_EQ(Pending("AGENT_DOWNLOAD", "TOTAL_FILES"), "1");
}

// The pass fails on its plan, not on a download: the run does not repeat it
// for that, and the other pass's files are handed over.
TEST_F(ComponentPass, UnsafeNamesAreRefusedBeforeAnythingIsFetched) {
  for (const char* bad : {"..\\evil.dll", "../evil.dll", "sub/evil.dll", "C:evil"}) {
    server.ClearRequests();
    const AgentState state = h.tray->State();
    h.tray = std::make_unique<frmTray>(h.p);  // a run's flags, afresh
    h.tray->State() = state;
    Publish({{"a.dll", "", "A", ""}, {bad, "", "E", ""}});
    Pass();
    EXPECT_TRUE(h.tray->PlanRefused()) << bad;
    EXPECT_FALSE(h.tray->State().RetryPending) << bad;
    EXPECT_TRUE(server.Requests().empty()) << bad;
    EXPECT_FALSE(fs::exists(h.UpdatePath("a.dll"))) << bad;
  }
}

TEST_F(ComponentPass, TargetThatCannotBeReplacedShowsTheErrorBoxWithPosition) {
  fs::create_directories(h.install +
                         "/SwiftPatcher_Mailbeacon.exe/inside");  // a folder, not a file
  Publish({{"a.dll", "", "A", ""}, {"SwiftPatcher_Mailbeacon.exe", "", "U", ""}});
  Pass();
  ASSERT_EQ(h.windows.boxes.size(), 1u);
  EXPECT_EQ(h.windows.boxes[0].caption, "Mailbeacon");
  EXPECT_EQ(h.windows.boxes[0].text.rfind(
                "Installation failure : subDownLoadNewVersion : position - 4, ", 0),
            0u)
      << h.windows.boxes[0].text;
  EXPECT_FALSE(h.tray->State().RetryPending);
  EXPECT_FALSE(h.tray->Splash().Complete());
  EXPECT_TRUE(fs::exists(h.UpdatePath("a.dll")));  // already downloaded files stay
}

}  // namespace
}  // namespace mb::test
