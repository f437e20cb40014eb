// Reports to the vendor, as one agent sends them to a scripted loopback
// server: only when the pause file asks (REPORTS=Y) and the machine has not
// turned them off; each kind as often as it may be sent (active and refused
// once a day, installed and failed once per hand-off); the exact query; and
// an unanswered report that changes nothing.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <filesystem>

#include "helpers/agent_harness.h"
#include "helpers/scripted_server.h"

namespace mb::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPause = "/v/download/pause.aspx";
constexpr const char* kExpress = "/v/download/express_exe.aspx?version=new&Folder=ORG";
constexpr const char* kAgent = "/v/download/agent_exe.aspx?version=new&Folder=ORG";
const std::string kReport = "/v/download/report.aspx?";

std::string UpToDate(const std::string& release) {
  return "[DOWNLOAD]\r\nTOTAL_FILES=0\r\nLAST_VERSION=" + release + "\r\n";
}

class Reports : public ::testing::Test {
 protected:
  void SetUp() override {
    h.UseServer(server.Url(), "/v");
    server.Answer(kPause, "N\r\nREPORTS=Y\r\n");
    server.Answer(kExpress, UpToDate("1.0.5"));
    server.Answer(kAgent, UpToDate("2.0.1"));
    fs::create_directories(h.update);
    WriteFile(h.UpdatePath("install_version.ini"),
              "[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.0.5\r\n[AGENT_DOWNLOAD]\r\n"
              "INSTALL_VERSION=2.0.1\r\n");
  }
  // The report requests since the last call, without their common start.
  std::vector<std::string> Sent() {
    std::vector<std::string> sent;
    for (const std::string& r : server.Requests()) {
      if (r.rfind(kReport, 0) == 0) sent.push_back(r.substr(kReport.size()));
    }
    server.ClearRequests();
    return sent;
  }
  void Answer(const std::string& query, int status = 204) {
    server.Answer(kReport + query, {status, ""});
  }

  ScriptedServer server;
  AgentHarness h;
};

const std::string kActiveExpress =
    "component=express&from=1.0.5&to=1.0.5&result=active&reason=&slot=";
const std::string kActiveAgent = "component=agent&from=2.0.1&to=2.0.1&result=active&reason=&slot=";

TEST_F(Reports, ActiveOnceACalendarDayAndOnlyWhenAskedAndAllowed) {
  Answer(kActiveExpress);
  Answer(kActiveAgent);
  EXPECT_EQ(h.RunAgent(3), -1);
  EXPECT_EQ(Sent(), (std::vector<std::string>{kActiveExpress, kActiveAgent}));

  h.process.now.day += 1;  // a new day: once more, with the number drawn by then
  h.SetRegistry({"\"URL\"=\"" + server.Url() + "\"", "\"V_DIR\"=\"/v\"", "\"Language\"=\"ENGLISH\"",
                 "\"InstallType\"=\"express\"", "\"RolloutSlot\"=\"7\""});
  EXPECT_EQ(h.RunAgent(2), -1);
  EXPECT_EQ(Sent(), (std::vector<std::string>{kActiveExpress + "7", kActiveAgent + "7"}));

  h.process.now.day += 1;  // turned off on this machine
  h.SetRegistry({"\"URL\"=\"" + server.Url() + "\"", "\"V_DIR\"=\"/v\"", "\"Language\"=\"ENGLISH\"",
                 "\"InstallType\"=\"express\"", "\"Reports\"=\"0\""});
  EXPECT_EQ(h.RunAgent(2), -1);
  EXPECT_TRUE(Sent().empty());

  // A server that does not ask gets exactly the design's requests, and the
  // agent writes nothing of its reports.
  h.SetRegistry({"\"URL\"=\"" + server.Url() + "\"", "\"V_DIR\"=\"/v\"", "\"Language\"=\"ENGLISH\"",
                 "\"InstallType\"=\"express\""});
  h.process.now.day += 1;
  server.Answer(kPause, "N\r\nPOLL=60\r\n");
  fs::remove(h.UpdatePath("reports.ini"));
  EXPECT_EQ(h.RunAgent(1), -1);
  EXPECT_EQ(server.Requests(), (std::vector<std::string>{kPause, kExpress, kAgent}));
  EXPECT_FALSE(fs::exists(h.UpdatePath("reports.ini")));
}

// What the updater did with a hand-off is reported once, by the next run
// that reads it; an unanswered report (404) changes nothing for the run.
TEST_F(Reports, OutcomesOfAHandOffOnceEachAndUnansweredOnesChangeNothing) {
  WriteFile(h.UpdatePath("install_outcome.ini"),
            "[EXPRESS_DOWNLOAD]\r\nFROM=1.0.4\r\nRELEASE=1.0.5\r\nRESULT=installed\r\n"
            "[AGENT_DOWNLOAD]\r\nFROM=2.0.0\r\nRELEASE=2.0.1\r\nRESULT=failed\r\nREASON=in-use\r\n"
            "FILE=C:\\mb\\agent.cfg\r\n");
  EXPECT_EQ(h.RunAgent(2), -1);  // nothing answers report.aspx
  EXPECT_EQ(Sent(), (std::vector<std::string>{
                        "component=express&from=1.0.4&to=1.0.5&result=installed&reason=&slot=",
                        "component=agent&from=2.0.0&to=2.0.1&result=failed&reason=in-use&slot=",
                        kActiveExpress, kActiveAgent}));
  EXPECT_TRUE(h.windows.boxes.empty());
  EXPECT_EQ(h.windows.armings, (std::vector<int>{10, 500, 500}));
  EXPECT_FALSE(h.net.TakeFailure());  // not the run's failure either
}

// A release this machine cannot take is reported refused once a day,
// however often the runs find it: a plan the updater could not apply (a
// target folder below a file), a folder this user may not write (a
// read-only mount, where the test may mount).
TEST_F(Reports, ARefusedReleaseOnceADayWithItsReason) {
  WriteFile(h.dir.path() / "blocker", "a file where the folder should be");
  fs::create_directories(h.dir.path() / "locked");
  const auto manifest = [&](const std::string& dir) {
    return "[DOWNLOAD]\r\nTOTAL_FILES=1\r\nLAST_VERSION=1.0.6\r\n[FILE_1]\r\nNAME=a.dll\r\n"
           "VERSION=1\r\nORG_NAME=a.dll\r\nTARGET_DIR=" +
           dir + "\r\nSELF_REGISTER=N\r\nHASH=\r\n";
  };
  server.Answer(kExpress, manifest(h.dir.str() + "/blocker/sub"));
  const std::string plan = "component=express&from=1.0.5&to=1.0.6&result=refused&reason=plan&slot=";
  Answer(plan);
  EXPECT_EQ(h.RunAgent(4), -1);
  EXPECT_EQ(Sent(), (std::vector<std::string>{plan, kActiveExpress, kActiveAgent}));
  h.process.now.day += 1;
  EXPECT_EQ(h.RunAgent(2), -1);
  EXPECT_EQ(Sent(), (std::vector<std::string>{plan, kActiveExpress, kActiveAgent}));

  const std::string locked = (h.dir.path() / "locked").string();
  if (mount(locked.c_str(), locked.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "cannot mount here";
  }
  const bool read_only =
      mount(nullptr, locked.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
  server.Answer(kExpress, manifest(locked));
  EXPECT_EQ(h.RunAgent(3), -1);
  umount2(locked.c_str(), MNT_DETACH);
  ASSERT_TRUE(read_only);
  EXPECT_EQ(Sent(),
            std::vector<std::string>{
                "component=express&from=1.0.5&to=1.0.6&result=refused&reason=rights&slot="});
}

}  // namespace
}  // namespace mb::test
