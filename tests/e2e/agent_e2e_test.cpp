// End-to-end runs of the real Mailbeacon program in a temporary install
// directory against mailbeacon-server on loopback.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "e2e/sandbox.h"
#include "platform/posix/posix_codepage.h"

namespace mb::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

std::string Cp949(const std::string& utf8) { return posix::IconvCodePage(949).ToAnsi(utf8); }

class AgentEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(fs::path(MB_BIN_DIR) / "mailbeacon-server")) GTEST_SKIP() << "no server built";
  }
  // The express plug-in at 1.1 and the agent at 2.0, with a new updater.
  void PublishRelease(const std::string& folder = "ORG") {
    s.Publish("express", "1.1",
              {{"plugin.dll", "plugin 1.1"},
               {"한글.txt", "도움말"},
               {"deep.dat", "d", "", ".\\data\\deep"}},
              folder);
    s.Publish("agent", "2.0",
              {{"SwiftPatcher_Mailbeacon.new", kRecordingUpdater, "SwiftPatcher_Mailbeacon.exe"},
               {"agent.cfg", "cfg 2.0"}},
              folder);
  }
  std::string Update(const std::string& name) { return s.Read("inst/update/" + name); }
  Sandbox s;
};

TEST_F(AgentEndToEnd, FirstInstallDownloadsVerifiesRecordsAndHandsOff) {
  PublishRelease();
  WriteFile(fs::path(s.install) / "SwiftPatcher_Mailbeacon.exe", "previous updater");
  s.StartServer();
  s.WriteRegistry();
  const ProgramResult r = s.RunAgent(3);
  ASSERT_EQ(r.status, 0) << r.output;

  // The server logs a request when its answer is sent, so the log's order
  // may differ from the agent's; the exact order is checked in-process.
  const auto requests = Sorted(s.TakeRequests());
  ASSERT_EQ(requests.size(), 9u) << ::testing::PrintToString(requests);
  EXPECT_EQ(requests[1],
            "/mbh/download/agent_exe.aspx?program=670*676*674*683*689*619*672*675*676*&Folder=ORG");
  EXPECT_EQ(requests[2], "/mbh/download/agent_exe.aspx?version=new&Folder=ORG");
  EXPECT_EQ(requests[6], "/mbh/download/express_exe.aspx?version=new&Folder=ORG");
  EXPECT_EQ(requests[7], "/mbh/download/pause.aspx");
  EXPECT_EQ(requests[8], "/mbh/download/update_notice.aspx?Folder=ORG");

  // Deferred files wait in the update directory, listed for the updater.
  EXPECT_EQ(Update("plugin.dll"), "plugin 1.1");
  EXPECT_EQ(Update("한글.txt"), "도움말");
  EXPECT_TRUE(fs::is_directory(s.install + "/data/deep"));
  const std::string list = Update("mailbeacon_download.ini");
  EXPECT_NE(list.find("[EXPRESS_DOWNLOAD]\r\nTOTAL_FILES=3\r\n"), std::string::npos) << list;
  EXPECT_NE(list.find("NAME=" + Cp949("한글.txt") + "\r\n"), std::string::npos);
  EXPECT_NE(list.find("TARGET_DIR=" + s.install + "\\data\\deep\r\n"), std::string::npos);
  EXPECT_NE(list.find("[AGENT_DOWNLOAD]\r\nTOTAL_FILES=1\r\n"), std::string::npos);
  EXPECT_NE(
      list.find(
          "[AGENT_FILE_1]\r\nNAME=agent.cfg\r\nVERSION=2.0\r\nORG_NAME=agent.cfg\r\nTARGET_DIR=" +
          s.install + "\r\nSELF_REGISTER=N\r\nBACK_UP=NO\r\n"),
      std::string::npos)
      << list;

  // The updater's own file was installed by the agent, with a backup.
  EXPECT_EQ(s.Read("inst/SwiftPatcher_Mailbeacon.exe"), kRecordingUpdater);
  EXPECT_EQ(s.Read("inst/SwiftPatcher_Mailbeacon.exe_old"), "previous updater");
  EXPECT_FALSE(fs::exists(s.update + "/SwiftPatcher_Mailbeacon.new"));

  const std::string record = Update("install_version.ini");
  EXPECT_NE(record.find("[EXPRESS_DOWNLOAD]\r\nLAST_VERSION=1.1\r\n"), std::string::npos) << record;
  EXPECT_NE(record.find("[AGENT_DOWNLOAD]\r\nLAST_VERSION=2.0\r\n"), std::string::npos);
  EXPECT_NE(record.find("[SwiftPatcher_Mailbeacon.exe]\r\nVERSION=2.0\r\nUPDATE=20"),
            std::string::npos);

  const std::string log = Update("update_log.txt");
  EXPECT_NE(
      log.find("] " + Cp949("다운로드성공 : ") + s.install + "\\" + Cp949("한글.txt") + "\r\n"),
      std::string::npos)
      << log;
  EXPECT_NE(log.find(Cp949("다운로드성공 : ") + s.install + "\\\r\n"),
            std::string::npos);  // the updater's line

  // The manifests were consumed; the notice is there; the updater started.
  EXPECT_FALSE(fs::exists(s.update + "/express_plugin.ini"));
  EXPECT_FALSE(fs::exists(s.update + "/mailbeacon_agent.ini"));
  for (int i = 0; i < 100 && !fs::exists(s.install + "/started.txt"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(s.Read("inst/started.txt"), "Mailbeacon_Shell\n" + s.install + "\n");
}

TEST_F(AgentEndToEnd, UpToDateRunAsksForThePauseStateAndTwoManifestsOnly) {
  PublishRelease();
  fs::create_directories(s.update);
  WriteFile(
      s.update + "/install_version.ini",
      "[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.1\r\n[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=2.0\r\n");
  s.StartServer();
  s.WriteRegistry();
  const ProgramResult r = s.RunAgent(1);
  EXPECT_EQ(r.status, 5) << r.output;
  EXPECT_EQ(Sorted(s.TakeRequests()),
            (std::vector<std::string>{"/mbh/download/agent_exe.aspx?version=new&Folder=ORG",
                                      "/mbh/download/express_exe.aspx?version=new&Folder=ORG",
                                      "/mbh/download/pause.aspx"}));
  EXPECT_FALSE(fs::exists(s.update + "/mailbeacon_download.ini"));
}

// What the vendor publishes to pace the fleet, through the real server: a
// run that found nothing to do (the plug-in's 1.1 is staged to nobody yet)
// waits POLL seconds instead of half a second; once 1.1 is for everyone it
// is taken at the next run.
TEST_F(AgentEndToEnd, PollSettingAndStagedReleaseThroughTheServer) {
  PublishRelease();
  fs::create_directories(s.update);
  WriteFile(
      s.update + "/install_version.ini",
      "[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\n[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=2.0\r\n"
      "[SwiftPatcher_Mailbeacon.exe]\r\nVERSION=2.0\r\n");
  WriteFile(s.install + "/agent.cfg", "cfg 2.0");
  WriteFile(fs::path(s.release) / "ORG/express/release.ini",
            "[RELEASE]\nLAST_VERSION=1.1\nROLLOUT=0\n");
  s.SetPause("N\r\nPOLL=3600\r\n");
  s.StartServer();
  s.WriteRegistry();
  // Killed after 6 s: at the design's pace that would be a dozen runs.
  const ProgramResult waiting = s.RunAgent(100, 6);
  EXPECT_EQ(waiting.status, -1) << waiting.output;
  EXPECT_EQ(s.TakeRequests().size(), 3u);
  EXPECT_FALSE(fs::exists(s.update + "/plugin.dll"));
  EXPECT_NE(s.Read("registry.reg").find("\"RolloutSlot\"=\""), std::string::npos);

  s.Publish("express", "1.1", {{"plugin.dll", "plugin 1.1"}});
  s.SetPause("N\r\n");
  s.StartServer();  // reads the release afresh
  s.WriteRegistry();
  const ProgramResult taking = s.RunAgent(3);
  EXPECT_EQ(taking.status, 0) << taking.output;
  EXPECT_EQ(Update("plugin.dll"), "plugin 1.1");
}

TEST_F(AgentEndToEnd, DigestMismatchRepeatsTheRunThenAGoodServerCompletesIt) {
  PublishRelease();
  s.StartServer({"--misbehave", "wrong-hash"});
  s.WriteRegistry();
  ProgramResult r = s.RunAgent(2);
  EXPECT_EQ(r.status, 5) << r.output;
  EXPECT_FALSE(fs::exists(s.update + "/mailbeacon_download.ini"));
  EXPECT_FALSE(fs::exists(s.update + "/install_version.ini"));  // nothing was recorded
  s.StartServer();
  s.WriteRegistry();
  r = s.RunAgent(2);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Update("plugin.dll"), "plugin 1.1");
}

TEST_F(AgentEndToEnd, RefusedAndOfflineEndings) {
  PublishRelease();
  s.SetPause("R\r\n");
  s.StartServer();
  s.WriteRegistry();
  ProgramResult r = s.RunAgent(3);
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.output.find("Installation impossible because of server problem."), std::string::npos);
  EXPECT_EQ(s.TakeRequests().size(), 1u);
}

TEST_F(AgentEndToEnd, MirrorStateFetchesFromTheMirrorFolder) {
  PublishRelease("MIRROR");
  s.SetPause("Y");
  s.StartServer();
  s.WriteRegistry();
  const ProgramResult r = s.RunAgent(3);
  ASSERT_EQ(r.status, 0) << r.output;
  for (const auto& target : s.TakeRequests()) {
    if (target.find("pause.aspx") != std::string::npos) continue;
    EXPECT_NE(target.find("Folder=MIRROR"), std::string::npos) << target;
  }
}

TEST_F(AgentEndToEnd, OutlookAddinInstallationAsksWithTheOutlookYear) {
  s.Publish("outlook", "3.0", {{"addin.dll", "addin for any Outlook"}});
  s.Publish("outlook/2003", "3.0", {{"addin.dll", "addin for 2003"}});
  s.Publish("agent", "2.0", {{"agent.cfg", "cfg"}});
  s.StartServer();
  s.WriteRegistry(
      "outlook",
      "[HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\Outlook\\Addins\\Mailbeacon_Outlook."
      "Connect]\n"
      "\"FriendlyName\"=\"Mailbeacon_Outlook.Connect\"\n\n"
      "[HKEY_CLASSES_ROOT\\Outlook.Application\\CurVer]\n@=\"Outlook.Application.11\"\n");
  const ProgramResult r = s.RunAgent(3);
  ASSERT_EQ(r.status, 0) << r.output;
  const auto requests = Sorted(s.TakeRequests());
  ASSERT_EQ(requests.size(), 6u) << ::testing::PrintToString(requests);
  EXPECT_EQ(requests[0],
            "/mbh/download/agent_exe.aspx?program=670*676*674*683*689*619*672*675*676*&Folder=ORG");
  EXPECT_EQ(requests[1], "/mbh/download/agent_exe.aspx?version=2003&Folder=ORG");
  EXPECT_EQ(requests[2], "/mbh/download/outlook_dll.aspx?version=2003&Folder=ORG");
  EXPECT_EQ(
      requests[3],
      "/mbh/download/"
      "outlook_dll.aspx?version=2003&program=670*673*673*678*683*619*673*681*681*&Folder=ORG");
  EXPECT_EQ(Update("addin.dll"), "addin for 2003");
}

// --help, -h, a long option, or a run limit that is no count: a short
// message, status 2, and not a single request. Any other command line is
// read as the Windows agent reads it: the design's "-D 2", "/d 5" and "-dx"
// are the 10 ms default, and the agent runs.
TEST_F(AgentEndToEnd, UsageErrorsStopBeforeAnyRequest) {
  PublishRelease();
  s.StartServer();
  s.WriteRegistry();
  struct Case {
    std::vector<std::string> args;
    std::string max_runs;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{"--help"}, "1", "usage: Mailbeacon [-d SECONDS]"},
      {{"-h"}, "1", "usage: Mailbeacon [-d SECONDS]"},
      {{"-d", "5", "--verbose"}, "1", "unknown option \"--verbose\""},
      {{}, "-1", "MAILBEACON_MAX_RUNS must be a positive number"},
      {{}, "abc", "not \"abc\""},
      {{}, "0", "MAILBEACON_MAX_RUNS"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {s.install + "/Mailbeacon"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    auto env = s.AgentEnvironment(1);
    env["MAILBEACON_MAX_RUNS"] = c.max_runs;
    const ProgramResult r = RunProgram(argv, s.install, env, 30);
    EXPECT_EQ(r.status, 2) << c.says << "\n" << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
  }
  EXPECT_TRUE(s.TakeRequests().empty());
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-D", "2"}, {"/d", "5"}, {"-dx"}, {"-d", "-5"}, {"5"}, {"-x"}}) {
    std::vector<std::string> argv = {s.install + "/Mailbeacon"};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProgramResult r = RunProgram(argv, s.install, s.AgentEnvironment(1), 30);
    const std::string shown = ::testing::PrintToString(args);
    EXPECT_TRUE(r.status == 0 || r.status == 5) << shown << r.output;  // handed off, or ran its run
    EXPECT_EQ(r.output.find("usage"), std::string::npos) << shown << r.output;
    EXPECT_FALSE(s.TakeRequests().empty()) << shown;
  }
}

TEST_F(AgentEndToEnd, OfflineInsideAnEmptyNetworkNamespace) {
  if (geteuid() != 0 || !fs::exists("/usr/bin/unshare")) GTEST_SKIP() << "needs unshare as root";
  s.StartServer();
  s.WriteRegistry();
  const ProgramResult r = RunProgram({"/usr/bin/unshare", "-n", s.install + "/Mailbeacon"},
                                     s.install, s.AgentEnvironment(2), 30);
  if (r.status == 1 && r.output.find("unshare") != std::string::npos) GTEST_SKIP() << r.output;
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("Mailbeacon"), std::string::npos);
  EXPECT_TRUE(s.TakeRequests().empty());
}

}  // namespace
}  // namespace mb::test
