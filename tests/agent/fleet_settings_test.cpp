// What a vendor publishes to pace its fleet, as one agent sees it against a
// scripted loopback server: POLL in the pause file's later lines, and a
// release staged by ROLLOUT in its manifest. An agent given neither behaves
// as before (the run driver's own tests).
#include <gtest/gtest.h>

#include <filesystem>

#include "helpers/agent_harness.h"
#include "helpers/scripted_server.h"
#include "support/md5.h"

namespace mb::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPause = "/v/download/pause.aspx";
constexpr const char* kManifest = "/v/download/express_exe.aspx?version=new&Folder=ORG";
// "plugin.dll" encoded: each ANSI code plus 573, followed by "*".
constexpr const char* kPluginFile =
    "/v/download/express_exe.aspx?program=685*681*690*676*678*683*619*673*681*681*&Folder=ORG";
const std::string kBody = "plugin bytes";

// Release 2.0 of the plug-in, one file, with `extra` lines in its DOWNLOAD
// section.
std::string Manifest(const std::string& extra) {
  return "[DOWNLOAD]\r\nTOTAL_FILES=1\r\nLAST_VERSION=2.0\r\n" + extra +
         "[FILE_1]\r\nNAME=plugin.dll\r\nVERSION=1\r\nORG_NAME=plugin.dll\r\nTARGET_DIR=.\r\n"
         "SELF_REGISTER=N\r\nHASH=" +
         Md5HexOf(kBody) + "\r\n";
}

// The file system's registry, except that the rollout number cannot be
// stored (a policy-locked key, a read-only store).
class RefusingRolloutWrites : public platform::Registry {
 public:
  explicit RefusingRolloutWrites(platform::Registry& real) : real_(real) {}
  long OpenKey(std::uint32_t root, const std::string& sub, std::uint32_t access,
               platform::RegKey* key) override {
    return real_.OpenKey(root, sub, access, key);
  }
  long QueryValue(platform::RegKey key, const std::string& name, std::uint32_t* type,
                  std::uint8_t* data, std::uint32_t* size) override {
    return real_.QueryValue(key, name, type, data, size);
  }
  long SetValue(platform::RegKey key, const std::string& name, std::uint32_t type,
                const std::uint8_t* data, std::uint32_t size) override {
    if (name == "RolloutSlot") return platform::kErrorAccessDenied;
    return real_.SetValue(key, name, type, data, size);
  }
  long CloseKey(platform::RegKey key) override { return real_.CloseKey(key); }

 private:
  platform::Registry& real_;
};

class FleetSettings : public ::testing::Test {
 protected:
  void SetUp() override { Serve(h, server); }
  static void Serve(AgentHarness& agent, ScriptedServer& s) {
    agent.UseServer(s.Url(), "/v");
    s.Answer(kPluginFile, kBody);
    s.Answer("/v/download/update_notice.aspx?Folder=ORG", "notice");
  }
  std::string Slot() {
    std::string value;
    h.tray->GetRegValue(platform::kHkeyCurrentUser, "SOFTWARE\\BrightHarbor\\MailbeaconCom",
                        "RolloutSlot", value);
    return value;
  }
  bool FetchedTheFile() const {
    for (const auto& r : server.Requests())
      if (r == kPluginFile) return true;
    return false;
  }
  ScriptedServer server;
  AgentHarness h;
};

TEST_F(FleetSettings, ARunWithNothingToDoWaitsThePollIntervalWithJitter) {
  server.Answer(kPause, "Y\r\nPOLL=3600\r\n");
  server.Answer("/v/download/express_exe.aspx?version=new&Folder=MIRROR", "");
  h.process.random_numbers = {0, 720000};
  EXPECT_EQ(h.RunAgent(2), -1);
  // Two whole runs, each followed by 0.9 S and 1.1 S: the timer carries the
  // wait, so the window system keeps running meanwhile.
  EXPECT_EQ(h.windows.armings, (std::vector<int>{10, 3240000, 3960000}));
  EXPECT_EQ(server.Requests().size(), 6u);
  EXPECT_EQ(h.tray->State().FolderParam, "&Folder=MIRROR");
  EXPECT_TRUE(h.windows.boxes.empty());
}

// Settings that are not where or what they must be are no settings: every
// run, failed or not, is followed by the next 500 ms later, as ever.
TEST_F(FleetSettings, UnreadableSettingsKeepTheHalfSecond) {
  struct Case {
    const char* why;
    std::string pause, manifest;
    bool plugin_served = true;
  };
  const std::vector<Case> cases = {
      {"a failed run without POLL", "N\r\n", Manifest(""), false},
      {"POLL after a lone LF is part of the first line", "N\nPOLL=60\n", ""},
      {"POLL of 0", "N\r\nPOLL=0\r\n", ""},
      {"POLL above a day", "N\r\nPOLL=86401\r\n", ""},
      {"POLL that is no number", "N\r\nPOLL=soon\r\n", ""},
  };
  for (const Case& c : cases) {
    ScriptedServer s;  // outlives the agent's kept connection
    AgentHarness agent;
    Serve(agent, s);
    s.Answer(kPause, c.pause);
    s.Answer(kManifest, c.manifest);
    if (!c.plugin_served) s.Answer(kPluginFile, {404, ""});
    EXPECT_EQ(agent.RunAgent(2), -1) << c.why;
    EXPECT_EQ(agent.windows.armings, (std::vector<int>{10, 500, 500})) << c.why;
    EXPECT_EQ(agent.process.random_draws, 0) << c.why;
  }
}

// With POLL published, failed runs back off: 500 ms, then twice as long
// after each further failure in a row, never more than POLL, each spread by
// up to 10 % (the random numbers here pick the low end, the middle, the top);
// a run with nothing to do waits POLL and starts the count again.
TEST_F(FleetSettings, FailedRunsBackOffUpToPollAndStartOverAfterASuccess) {
  server.Answer(kPause, "N\r\nPOLL=3\r\n");
  server.Answer(kManifest, Manifest(""));
  server.Answer(kPluginFile, {404, ""});
  h.process.random_numbers = {0, 100, 400, 0, 0, 600};
  h.windows.yes_no_answers = {true, true};
  EXPECT_EQ(h.RunAgent(6), -1);
  // 500 -10 %, 1000 +0 %, 2000 +10 %, 4000 capped at POLL: 3 s -10 %, and so on.
  EXPECT_EQ(h.windows.armings, (std::vector<int>{10, 450, 1000, 2200, 2700, 2700, 3300}));
  EXPECT_EQ(h.process.random_draws, 6);
  // Failed downloads still count for the retry question: asked after three.
  ASSERT_EQ(h.windows.boxes.size(), 1u);
  EXPECT_EQ(h.windows.boxes[0].caption, "Mailbeacon Installation");

  server.Answer(kManifest, "");  // nothing to do: the count starts over
  h.process.random_numbers = {300, 0};
  h.windows.armings.clear();
  server.Answer(kPluginFile, kBody);
  EXPECT_EQ(h.RunAgent(2), -1);
  EXPECT_EQ(h.windows.armings, (std::vector<int>{10, 3000, 2700}));
}

// The same machine is inside or outside at the same share, from its first
// staged release on: its number is drawn once and kept.
TEST_F(FleetSettings, AStagedReleaseGoesOnlyToInstallationsBelowItsShare) {
  server.Answer(kPause, "N\r\nPOLL=60\r\n");
  server.Answer(kManifest, Manifest("ROLLOUT=30\r\n"));
  h.process.random_numbers = {145, 0};  // number 45; then the poll's jitter
  EXPECT_EQ(h.RunAgent(1), -1);
  EXPECT_FALSE(FetchedTheFile());
  EXPECT_EQ(Slot(), "45");
  EXPECT_EQ(h.windows.armings.back(), 54000);  // held back: nothing to do, so POLL applies
  EXPECT_FALSE(h.tray->State().UpdateDue);
  EXPECT_TRUE(fs::exists(h.UpdatePath("express_plugin.ini")));  // kept, as when up to date

  server.Answer(kManifest, Manifest("ROLLOUT=46\r\n"));
  h.windows.max_timer_events = 1;
  EXPECT_EQ(h.tray->Run(), kExitHandOff);
  EXPECT_TRUE(FetchedTheFile());
  EXPECT_EQ(h.process.random_draws, 2);  // one number, one jitter: never drawn again
  EXPECT_EQ(Slot(), "45");
}

// The share a vendor sets without signing anything anew, in the pause file
// for one release of one component folder, is taken over the manifest's
// own; one for another release, folder or component counts for nothing.
TEST_F(FleetSettings, AShareSetInThePauseFileForThisReleaseDecides) {
  struct Case {
    const char* why;
    std::string pause, rollout;
    bool taken;
  };
  const std::vector<Case> cases = {
      {"halted: 0 for this release", "N\r\nROLLOUT:ORG/express=0 2.0\r\n", "", false},
      {"widened over a signed 0", "N\r\nROLLOUT:ORG/express=50 2.0\r\n", "ROLLOUT=0\r\n", true},
      {"below this machine's number", "N\r\nrollout:org/EXPRESS=7 2.0\r\n", "", false},
      {"for another release", "N\r\nROLLOUT:ORG/express=0 1.9\r\n", "", true},
      {"for the mirror", "N\r\nROLLOUT:MIRROR/express=0 2.0\r\n", "", true},
      {"for the agent", "N\r\nROLLOUT:ORG/agent=0 2.0\r\n", "", true},
      {"no release named", "N\r\nROLLOUT:ORG/express=0\r\n", "ROLLOUT=50\r\n", true},
  };
  for (const Case& c : cases) {
    ScriptedServer s;
    AgentHarness agent;
    Serve(agent, s);
    agent.SetRegistry({"\"URL\"=\"" + s.Url() + "\"", "\"V_DIR\"=\"/v\"",
                       "\"Language\"=\"ENGLISH\"", "\"RolloutSlot\"=\"10\""});
    s.Answer(kPause, c.pause);
    s.Answer(kManifest, Manifest(c.rollout));
    EXPECT_EQ(agent.RunAgent(1), c.taken ? kExitHandOff : -1) << c.why;
  }
}

TEST_F(FleetSettings, AReleaseForEveryoneNeverDrawsANumber) {
  for (const char* rollout : {"", "ROLLOUT=100\r\n", "ROLLOUT=abc\r\n", "ROLLOUT=101\r\n",
                              "ROLLOUT=-1\r\n", "ROLLOUT=\r\n"}) {
    ScriptedServer s;  // outlives the agent's kept connection
    AgentHarness agent;
    Serve(agent, s);
    s.Answer(kPause, "N");
    s.Answer(kManifest, Manifest(rollout));
    const std::string registry_before = ReadFile(agent.registry_path);
    EXPECT_EQ(agent.RunAgent(1), kExitHandOff) << rollout;
    EXPECT_EQ(agent.process.random_draws, 0) << rollout;
    EXPECT_EQ(ReadFile(agent.registry_path), registry_before) << rollout;
  }
}

TEST_F(FleetSettings, AKeptNumberDecidesAndOneThatIsNoNumberIsDrawnAgain) {
  h.SetRegistry({"\"URL\"=\"" + server.Url() + "\"", "\"V_DIR\"=\"/v\"",
                 "\"InstallType\"=\"express\"", "\"RolloutSlot\"=\" 7 \""});
  server.Answer(kPause, "N");
  server.Answer(kManifest, Manifest("ROLLOUT=8\r\n"));
  EXPECT_EQ(h.RunAgent(1), kExitHandOff);
  EXPECT_EQ(h.process.random_draws, 0);

  ScriptedServer s;
  AgentHarness other;
  Serve(other, s);
  other.SetRegistry({"\"URL\"=\"" + s.Url() + "\"", "\"V_DIR\"=\"/v\"",
                     "\"InstallType\"=\"express\"", "\"RolloutSlot\"=\"100\""});
  s.Answer(kPause, "N");
  s.Answer(kManifest, Manifest("ROLLOUT=8\r\n"));
  other.process.random_numbers = {303};  // number 3
  EXPECT_EQ(other.RunAgent(1), kExitHandOff);
  EXPECT_EQ(other.process.random_draws, 1);
  EXPECT_NE(ReadFile(other.registry_path).find("\"RolloutSlot\"=\"3\""), std::string::npos);
}

// A machine that would draw anew at every start must not get the release
// sooner than the vendor chose: it waits for the whole fleet's turn.
TEST_F(FleetSettings, ANumberThatCannotBeKeptCountsAsTheLast) {
  RefusingRolloutWrites refusing(*h.registry);
  h.p.registry = &refusing;
  server.Answer(kPause, "N");
  server.Answer(kManifest, Manifest("ROLLOUT=99\r\n"));
  h.process.random_numbers = {0};  // would be number 0, the first to be given anything
  EXPECT_EQ(h.RunAgent(1), -1);
  EXPECT_FALSE(FetchedTheFile());
  EXPECT_EQ(Slot(), "");

  server.Answer(kManifest, Manifest("ROLLOUT=100\r\n"));
  h.windows.max_timer_events = 1;
  EXPECT_EQ(h.tray->Run(), kExitHandOff);
}

}  // namespace
}  // namespace mb::test
