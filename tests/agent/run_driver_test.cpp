// The run driver's endings against a scripted loopback server: which
// requests arrive, in which order, with which exact URL, and how each run
// ends.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "helpers/agent_harness.h"
#include "helpers/scripted_server.h"
#include "support/md5.h"

namespace mb::test {
namespace {

namespace fs = std::filesystem;

// A manifest listing one file installed under its own name in ".".
std::string OneFileManifest(const std::string& name, const std::string& body,
                            const std::string& version = "2.0") {
  return "[DOWNLOAD]\r\nTOTAL_FILES=1\r\nLAST_VERSION=" + version + "\r\n[FILE_1]\r\nNAME=" + name +
         "\r\nVERSION=1\r\nORG_NAME=" + name +
         "\r\nTARGET_DIR=.\r\nSELF_REGISTER=N\r\nHASH=" + Md5HexOf(body) + "\r\n";
}

class RunDriver : public ::testing::Test {
 protected:
  void SetUp() override { h.UseServer(server.Url(), "/v"); }
  std::vector<std::string> Boxes() const {
    std::vector<std::string> out;
    for (const auto& b : h.windows.boxes) out.push_back(b.caption + "|" + b.text);
    return out;
  }
  ScriptedServer server;
  AgentHarness h;
};

TEST_F(RunDriver, OfflineEndsAfterMessageFiveWithoutAnyRequest) {
  h.net.online = false;
  EXPECT_EQ(h.RunAgent(), kExitOffline);
  EXPECT_EQ(
      Boxes(),
      (std::vector<std::string>{"Mailbeacon|Installation impossible because of network problem."}));
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(RunDriver, RefusedEndsAfterMessageSix) {
  server.Answer("/v/download/pause.aspx", "xR\r\n");
  EXPECT_EQ(h.RunAgent(), kExitRefused);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{
                         "Mailbeacon|Sorry.\r\nInstallation impossible because of server "
                         "problem.\r\nRetry after a moment."}));
  EXPECT_EQ(server.Requests(), (std::vector<std::string>{"/v/download/pause.aspx"}));
  EXPECT_FALSE(fs::exists(h.UpdatePath("pause.txt")));
}

TEST_F(RunDriver, UpToDateRunAsksThreeThingsAndRunsAgainIn500ms) {
  server.Answer("/v/download/pause.aspx", "N");
  EXPECT_EQ(h.RunAgent(), -1);
  EXPECT_EQ(server.Requests(),
            (std::vector<std::string>{"/v/download/pause.aspx",
                                      "/v/download/express_exe.aspx?version=new&Folder=ORG",
                                      "/v/download/agent_exe.aspx?version=new&Folder=ORG"}));
  EXPECT_EQ(h.windows.armings, (std::vector<int>{10, 500}));
  EXPECT_TRUE(h.windows.boxes.empty());
  EXPECT_FALSE(fs::exists(h.UpdatePath("mailbeacon_download.ini")));
  EXPECT_EQ(h.tray->Splash().CurrentCaption(), "Checking files.");
}

TEST_F(RunDriver, MirrorStateThenUnreachablePauseFallsBackToOrg) {
  server.Answer("/v/download/pause.aspx", "Y\r\n");
  h.windows.max_timer_events = 1;
  EXPECT_EQ(h.RunAgent(), -1);
  EXPECT_EQ(server.Requests().at(1), "/v/download/express_exe.aspx?version=new&Folder=MIRROR");
  EXPECT_EQ(h.tray->State().FolderParam, "&Folder=MIRROR");
  server.Answer("/v/download/pause.aspx", {500, "Y"});
  server.ClearRequests();
  h.windows.max_timer_events = 1;
  h.tray->Run();
  EXPECT_EQ(server.Requests().at(1), "/v/download/express_exe.aspx?version=new&Folder=ORG");
}

TEST_F(RunDriver, ZeroBytePauseFileTakesTheErrorPath) {
  server.Answer("/v/download/pause.aspx", "");
  EXPECT_EQ(h.RunAgent(), -1);
  EXPECT_EQ(Boxes(),
            (std::vector<std::string>{"Mailbeacon|Installation failure : Input past end of file"}));
  EXPECT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(h.windows.armings.back(), 500);
}

// The stale list is gone before the run; the agent's own files and
// backups stay, and a copy that no list names any more goes at the run's
// end (the update folder's rule: install/update_folder.h).
TEST_F(RunDriver, StalePendingListIsDeletedAndOtherFilesKept) {
  fs::create_directories(h.update);
  WriteFile(h.UpdatePath("mailbeacon_download.ini"), "[OLD]\r\n");
  WriteFile(h.UpdatePath("install_version.ini"), "[AGENT_DOWNLOAD]\r\n");
  WriteFile(h.UpdatePath("update_log.txt"), "log\r\n");
  WriteFile(h.UpdatePath("keep.dll_old"), "backup");
  WriteFile(h.UpdatePath("copy_of_an_old_list.dll"), "leftover");
  fs::create_directories(h.update + "/folder");
  WriteFile(h.UpdatePath(".crashed.dll.part-Ab12Cd"), "partial");
  fs::last_write_time(h.UpdatePath(".crashed.dll.part-Ab12Cd"),
                      fs::file_time_type::clock::now() - std::chrono::hours(1));
  server.Answer("/v/download/pause.aspx", "N");
  h.RunAgent();
  EXPECT_FALSE(fs::exists(h.UpdatePath("mailbeacon_download.ini")));
  EXPECT_FALSE(fs::exists(h.UpdatePath("copy_of_an_old_list.dll")));
  EXPECT_FALSE(fs::exists(h.UpdatePath(".crashed.dll.part-Ab12Cd")));
  for (const char* kept : {"install_version.ini", "update_log.txt", "keep.dll_old", "folder"}) {
    EXPECT_TRUE(fs::exists(h.UpdatePath(kept))) << kept;
  }
}

TEST_F(RunDriver, UpdateDirectoryThatCannotBeMadeEndsTheAgent) {
  fs::create_symlink(h.dir.path() / "nowhere" / "x", h.update);  // dangling: mkdir fails
  EXPECT_EQ(h.RunAgent(), kExitError);
  ASSERT_EQ(h.windows.boxes.size(), 1u);
  EXPECT_EQ(h.windows.boxes[0].text.rfind("Installation failure : ", 0), 0u);
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(RunDriver, OutOfDateProductHandsOffToTheUpdater) {
  const std::string body = "plugin bytes";
  server.Answer("/v/download/pause.aspx", "N\r\n");
  server.Answer("/v/download/express_exe.aspx?version=new&Folder=ORG",
                OneFileManifest("plugin.dll", body));
  // "plugin.dll" encoded: each ANSI code plus 573, followed by "*".
  server.Answer(
      "/v/download/express_exe.aspx?program=685*681*690*676*678*683*619*673*681*681*&Folder=ORG",
      body);
  server.Answer("/v/download/update_notice.aspx?Folder=ORG", "notice");
  EXPECT_EQ(h.RunAgent(), kExitHandOff);
  EXPECT_EQ(server.Requests(),
            (std::vector<std::string>{
                "/v/download/pause.aspx", "/v/download/express_exe.aspx?version=new&Folder=ORG",
                "/v/download/agent_exe.aspx?version=new&Folder=ORG",
                "/v/download/"
                "express_exe.aspx?program=685*681*690*676*678*683*619*673*681*681*&Folder=ORG",
                "/v/download/update_notice.aspx?Folder=ORG"}));
  ASSERT_EQ(h.process.starts.size(), 1u);
  EXPECT_EQ(h.process.starts[0].file, "SwiftPatcher_Mailbeacon.exe");
  EXPECT_EQ(h.process.starts[0].params, "Mailbeacon_Shell");
  EXPECT_EQ(h.process.starts[0].dir, h.install);
  EXPECT_EQ(ReadFile(h.UpdatePath("plugin.dll")), body);
  EXPECT_EQ(ReadFile(h.UpdatePath("Mailbeacon_Update_Notice.txt")), "notice");
  EXPECT_FALSE(h.tray->SplashLoaded());
}

TEST_F(RunDriver, OutlookAddinAsksWithTheOutlookYear) {
  h.SetRegistry(
      {"\"URL\"=\"" + server.Url() + "\"", "\"V_DIR\"=\"/v\"", "\"InstallType\"=\"outlook\""},
      "[HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\Outlook\\Addins\\Mailbeacon_Outlook."
      "Connect]\n\"FriendlyName\"=\"Mailbeacon_Outlook.Connect\"\n\n"
      "[HKEY_CLASSES_ROOT\\Outlook.Application\\CurVer]\n@=\"Outlook.Application.11\"\n");
  server.Answer("/v/download/pause.aspx", "N");
  h.RunAgent();
  EXPECT_EQ(server.Requests(),
            (std::vector<std::string>{"/v/download/pause.aspx",
                                      "/v/download/outlook_dll.aspx?version=2003&Folder=ORG",
                                      "/v/download/agent_exe.aspx?version=2003&Folder=ORG"}));
}

TEST_F(RunDriver, AfterThreeIncompleteRunsTheUserMayStop) {
  server.Answer("/v/download/pause.aspx", "N");
  // The manifest promises a file the server does not have: every pass fails.
  server.Answer("/v/download/express_exe.aspx?version=new&Folder=ORG",
                OneFileManifest("a", "never served"));
  EXPECT_EQ(h.RunAgent(10), kExitRetryDeclined);
  ASSERT_EQ(h.windows.boxes.size(), 2u);
  EXPECT_EQ(h.windows.boxes[0].caption, "Mailbeacon Installation");
  EXPECT_EQ(h.windows.boxes[0].text,
            "New version downloading failure.\r\nDo you retry downloading again?");
  EXPECT_EQ(h.windows.boxes[1].text.rfind("Download incomplete.", 0), 0u);
  EXPECT_FALSE(h.windows.boxes[0].information);
  EXPECT_TRUE(h.windows.boxes[1].information);  // an information message, with its icon
  EXPECT_EQ(h.windows.armings, (std::vector<int>{10, 500, 500, 500}));
}

// Nobody to answer (a POSIX agent with no terminal): no question, the
// agent keeps retrying for as long as it runs.
TEST_F(RunDriver, WithNobodyToAskTheAgentKeepsRetrying) {
  server.Answer("/v/download/pause.aspx", "N");
  server.Answer("/v/download/express_exe.aspx?version=new&Folder=ORG",
                OneFileManifest("a", "never served"));
  h.windows.can_ask = false;
  EXPECT_EQ(h.RunAgent(10), -1);
  EXPECT_TRUE(h.windows.boxes.empty());
  EXPECT_EQ(h.windows.armings.size(), 11u);  // the start and a re-arm after each of 10 runs
  EXPECT_LT(h.tray->RetryPromptCount(), 4);
}

TEST_F(RunDriver, AnsweringYesKeepsRetrying) {
  server.Answer("/v/download/pause.aspx", "N");
  server.Answer("/v/download/express_exe.aspx?version=new&Folder=ORG",
                OneFileManifest("a", "never served"));
  h.windows.yes_no_answers = {true};
  EXPECT_EQ(h.RunAgent(5), -1);
  EXPECT_EQ(h.windows.boxes.size(), 1u);
  EXPECT_EQ(h.tray->RetryPromptCount(), 2);  // reset by Yes, then two more failures
}

}  // namespace
}  // namespace mb::test
