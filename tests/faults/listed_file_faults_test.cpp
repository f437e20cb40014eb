// A server that breaks while the agent downloads the files of a release:
// the run stops without a partial file, without touching the installed
// files, and the next start against a healthy server completes the update.
#include <filesystem>
#include <map>

#include "faults/fault_fixture.h"
#include "faults/fault_wrappers.h"

namespace mb::test {
namespace {

struct ListedFileFault {
  const char* label;
  Answer answer;    // body filled in from the release when empty
  bool first_file;  // the first listed file, else the second
};

void PrintTo(const ListedFileFault& f, std::ostream* os) { *os << f.label; }

class ListedFileFaults : public FaultTest, public ::testing::WithParamInterface<ListedFileFault> {};

TEST_P(ListedFileFaults, RunStopsCleanlyAndNextStartRecovers) {
  const ListedFileFault& c = GetParam();
  const PublishedFile& hit = express[c.first_file ? 0 : 1];
  Answer answer = c.answer;
  if (answer.body.empty()) answer.body = hit.body;
  server.Set(ExpressFile(hit.name), answer);
  const auto before = Snapshot(h.dir.path());

  EXPECT_EQ(h.RunAgent(1), -1);  // alive, a new run is armed

  EXPECT_EQ(h.windows.armings.back(), 500);
  EXPECT_TRUE(h.windows.boxes.empty());
  EXPECT_EQ(h.windows.statuses.back(), "Downloading failure..");
  ExpectNoHarm(before);
  // The failed file is not in the update directory; when an earlier file of
  // the list was already waiting there, the pass removed it too.
  for (const auto& f : express) EXPECT_FALSE(fault_fs::exists(h.UpdatePath(f.name))) << f.name;
  // The agent's own pass did not run after the plug-in's failed.
  for (const auto& target : server.Requests())
    EXPECT_EQ(target.find("agent_exe.aspx?program"), std::string::npos);
  ExpectRecovers();
}

const ListedFileFault kListedFileFaults[] = {
    {"ResetMidBody", Broken(Fault::kReset), true},
    {"ResetMidBodyOfSecondFile", Broken(Fault::kReset), false},
    {"BodyShortOfContentLength", Broken(Fault::kShortBody), true},
    {"BodyShortOfContentLengthSecondFile", Broken(Fault::kShortBody), false},
    {"ServerError500", Status(500), true},
    {"NotFound404", Status(404), false},
    {"RedirectLoop", Redirect(), true},
    {"RedirectToLocalFileScheme", Redirect("file:///etc/passwd"), true},
    {"RedirectToAHostThatIsDown", Redirect("http://127.0.0.1:1/x"), false},
};

INSTANTIATE_TEST_SUITE_P(Faults, ListedFileFaults, ::testing::ValuesIn(kListedFileFaults),
                         [](const auto& param_info) {
                           return std::string(param_info.param.label);
                         });

// Bytes other than the published ones (a wrong HASH, or a redirect to a host
// that serves something else) are rejected by their digest. A rejected first
// file outlives its pass (nothing deferred yet, so the pass deletes
// nothing), is listed nowhere, goes at the run's end with every copy no
// list names, and is fetched again next time.
TEST_F(FaultTest, WrongDigestIsRejectedAndRefetched) {
  server.Serve(ExpressFile("plugin.new"), "tampered");
  const auto before = Snapshot(h.dir.path());
  EXPECT_EQ(h.RunAgent(1), -1);
  ExpectNoHarm(before);
  EXPECT_FALSE(fault_fs::exists(h.UpdatePath("plugin.new")));
  EXPECT_EQ(h.windows.statuses.back(), "Downloading failure..");
  ExpectRecovers();
}

// A server that publishes a new name with a wrong digest at every start,
// or whose agent's pass fails after the plug-in's pass listed new names:
// the update folder never holds more than the last run's list names.
TEST_F(FaultTest, ServerCannotFillTheUpdateFolder) {
  auto copies_of = [&](const std::string& prefix) {
    int n = 0;
    for (const auto& e : fault_fs::directory_iterator(h.update)) {
      n += e.path().filename().string().rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return n;
  };
  for (int i = 0; i < 4; ++i) {
    const std::string tag = std::to_string(i);
    express = {{"rejected" + tag + ".dll", "bytes " + tag, "plugin.dll", ".", "1." + tag}};
    std::string m = ManifestText("1." + tag, express);
    m.replace(m.find("HASH=") + 5, 32, std::string(32, '0'));
    server.Serve(kExpressManifest, m);
    server.Serve(ExpressFile(express[0].name), express[0].body);
    StartAgent();
  }
  EXPECT_EQ(copies_of("rejected"), 0);

  server.Set(AgentFile(agent[1].name), Status(500));
  for (int i = 0; i < 4; ++i) {
    const std::string tag = std::to_string(i);
    express = {{"dropped" + tag + ".dll", "bytes " + tag, "plugin.dll", ".", "2." + tag}};
    server.Serve(kExpressManifest, ManifestText("2." + tag, express));
    server.Serve(ExpressFile(express[0].name), express[0].body);
    StartAgent();
  }
  EXPECT_EQ(copies_of("dropped"), 1);  // the last run's, which its list names
  EXPECT_TRUE(fault_fs::exists(h.UpdatePath("dropped3.dll")));
}

TEST_F(FaultTest, RedirectToAnotherHostWithOtherBytesIsRejectedByDigest) {
  HostileServer other;
  other.Serve("/evil", "not the plug-in");
  server.Set(ExpressFile("help.txt"), Redirect(other.Url() + "/evil"));
  const auto before = Snapshot(h.dir.path());
  EXPECT_EQ(h.RunAgent(1), -1);
  EXPECT_EQ(other.Requests(), std::vector<std::string>{"/evil"});
  ExpectNoHarm(before);
  // plugin.new was deferred before help.txt failed, so both are removed.
  EXPECT_FALSE(fault_fs::exists(h.UpdatePath("plugin.new")));
  EXPECT_FALSE(fault_fs::exists(h.UpdatePath("help.txt")));
  ExpectRecovers();
}

// The updater's own file fails after the plug-in's files were fetched: the
// installed updater is untouched (no backup made, nothing half-copied).
TEST_F(FaultTest, UpdaterFileResetLeavesTheInstalledUpdaterAlone) {
  server.Set(AgentFile(agent[0].name), Broken(Fault::kReset, agent[0].body));
  const auto before = Snapshot(h.dir.path());
  EXPECT_EQ(h.RunAgent(1), -1);
  ExpectNoHarm(before);
  EXPECT_FALSE(fault_fs::exists(h.install + "/SwiftPatcher_Mailbeacon.exe_old"));
  ExpectRecovers();
}

// A slow server (one byte every 150 ms, inside the stall time-out) only
// makes the run slow: the window is pumped all along the transfer, and the
// run completes.
// The pause state, a manifest and the notice are waited for like a file:
// the window is pumped all along (a window left unpumped for seconds is
// "Not Responding" on Windows), and the run hands off as usual.
TEST_F(FaultTest, SlowTextAnswersKeepTheWindowPumped) {
  struct CountingWindows : RecordingWindowSystem {
    int pumps = 0;
    void PumpMessages() override { ++pumps; }
  } windows;
  FaultyNetwork net(h.net);
  std::map<std::string, int> pumps_during;
  net.before = [&](const std::string& url, auto&) {
    pumps_during[url] = -windows.pumps;
    return 0L;
  };
  net.after = [&](const std::string& url, auto&) { pumps_during[url] += windows.pumps; };
  h.p.windows = &windows;
  h.p.net = &net;
  server.Set(kPause, Drip("N\r\n", 300));
  server.Set(kExpressManifest, Drip(ManifestText("1.1", express), 2));
  server.Set(kNotice, Drip("Release 1.1", 60));
  h.tray = std::make_unique<frmTray>(h.p);
  h.tray->Form_Load();
  EXPECT_EQ(h.tray->Run(), kExitHandOff);
  for (const char* target : {kPause, kExpressManifest, kNotice}) {
    const std::string url = server.Url() + target;
    ASSERT_TRUE(pumps_during.count(url)) << url;
    EXPECT_GE(pumps_during[url], 3) << url;
  }
}

TEST_F(FaultTest, SlowDripKeepsTheWindowPumpingAndCompletes) {
  struct CountingWindows : RecordingWindowSystem {
    int pumps = 0;
    void PumpMessages() override { ++pumps; }
  } windows;
  FaultyNetwork net(h.net);
  int pumps_during_drip = -1;
  net.before = [&](const std::string& url, auto&) {
    if (url.find(ExpressFile("help.txt")) != std::string::npos) pumps_during_drip = -windows.pumps;
    return 0L;
  };
  net.after = [&](const std::string& url, auto&) {
    if (url.find(ExpressFile("help.txt")) != std::string::npos) pumps_during_drip += windows.pumps;
  };
  h.p.windows = &windows;
  h.p.net = &net;
  server.Set(ExpressFile("help.txt"), Drip("help 1.1", 150));
  h.tray = std::make_unique<frmTray>(h.p);
  h.tray->Form_Load();
  EXPECT_EQ(h.tray->Run(), kExitHandOff);
  EXPECT_GE(pumps_during_drip, 8);  // 8 bytes over about 1.2 s
  EXPECT_EQ(ReadFile(h.UpdatePath("help.txt")), "help 1.1");
}

}  // namespace
}  // namespace mb::test
