// The whole loop with the real updater: agent, server and
// SwiftPatcher_Mailbeacon.exe together, including an updater killed half-way.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "e2e/sandbox.h"

namespace mb::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(1ms);
  }
  return pred();
}

class UpdateLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(fs::path(MB_BIN_DIR) / "SwiftPatcher_Mailbeacon.exe"))
      GTEST_SKIP() << "no updater";
    s.UseRealUpdater();
    fs::create_directories(s.update);
  }
  // The installed product at 1.0: record and files.
  void Installed(const std::vector<std::pair<std::string, std::string>>& files) {
    std::string record =
        "[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\n[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\n";
    for (const auto& [name, body] : files) {
      WriteFile(fs::path(s.install) / name, body);
      record += "[" + name + "]\r\nVERSION=1.0\r\n";
    }
    WriteFile(s.update + "/install_version.ini", record);
  }
  std::string Inst(const std::string& name) { return s.Read("inst/" + name); }
  void ExpectUpToDateNextRun() {
    s.TakeRequests();
    const ProgramResult r = s.RunAgent(1);
    EXPECT_EQ(r.status, 5) << r.output;
    EXPECT_EQ(s.TakeRequests().size(), 3u);  // pause and two manifests, nothing downloaded
  }
  Sandbox s;
};

TEST_F(UpdateLoop, AgentAndUpdaterBringTheInstallationUpToDate) {
  Installed({{"plugin.dll", "plugin 1.0"}});
  s.Publish("express", "1.1",
            {{"plugin_1.1.dll", "plugin 1.1", "plugin.dll"},
             {"new.txt", "new", "", ".\\docs"},
             {"a..b.dll", "two dots"}});
  s.Publish("agent", "1.1", {{"agent.cfg", "cfg 1.1"}});
  s.StartServer();
  s.WriteRegistry();
  const ProgramResult r = s.RunAgent(3);
  ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_TRUE(s.WaitForUpdater()) << "the updater did not finish";
  EXPECT_EQ(Inst("plugin.dll"), "plugin 1.1");
  EXPECT_EQ(Inst("plugin.dll_old"), "plugin 1.0");
  EXPECT_EQ(Inst("docs/new.txt"), "new");
  EXPECT_EQ(Inst("a..b.dll"), "two dots");  // dots inside a name pass server, agent and updater
  EXPECT_EQ(Inst("agent.cfg"), "cfg 1.1");
  const std::string record = s.Read("inst/update/install_version.ini");
  EXPECT_NE(record.find("[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.1\r\nLAST_VERSION=1.1\r\n"),
            std::string::npos)
      << record;
  EXPECT_NE(record.find("[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=1.1\r\nLAST_VERSION=1.1\r\n"),
            std::string::npos);
  EXPECT_NE(record.find("[plugin.dll]\r\nVERSION=1.1\r\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(s.update + "/plugin_1.1.dll"));
  ExpectUpToDateNextRun();
}

// An install folder whose name the code page cannot hold (Korean under
// 1252): the list names the folders inside it as ".\dir", never as a
// lossy "...\??", and the updater puts every file inside it.
TEST_F(UpdateLoop, InstallFolderTheCodePageCannotHoldIsKeptWhole) {
  const std::string korean = s.root() + "/메일";
  fs::create_directories(korean + "/update");
  fs::copy_file(s.install + "/Mailbeacon", korean + "/Mailbeacon");
  fs::copy_file(s.install + "/SwiftPatcher_Mailbeacon.exe",
                korean + "/SwiftPatcher_Mailbeacon.exe");
  s.install = korean;
  s.update = korean + "/update";
  Installed({{"plugin.dll", "plugin 1.0"}});
  s.Publish("express", "1.1",
            {{"plugin_1.1.dll", "plugin 1.1", "plugin.dll"}, {"new.txt", "new", "", ".\\docs"}});
  s.Publish("agent", "1.0", {});
  s.StartServer();
  s.WriteRegistry();
  auto env = s.AgentEnvironment(3);
  env["LC_ALL"] = "en_US.UTF-8";  // code page 1252
  const ProgramResult r = RunProgram({korean + "/Mailbeacon"}, korean, env, 60);
  ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_TRUE(s.WaitForUpdater()) << "the updater did not finish";
  EXPECT_EQ(ReadFile(korean + "/plugin.dll"), "plugin 1.1");
  EXPECT_EQ(ReadFile(korean + "/docs/new.txt"), "new");
  EXPECT_FALSE(fs::exists(s.root() + "/??"));
  EXPECT_NE(ReadFile(s.update + "/install_version.ini").find("INSTALL_VERSION=1.1"),
            std::string::npos);
}

// An updater killed while it stages the component's files has changed
// nothing the user sees. The next agent makes the folder whole (the staged
// files and their temporaries go), takes the verified copies back instead
// of fetching them again, and hands over; the updater then completes.
TEST_F(UpdateLoop, UpdaterKilledHalfWayChangesNothingAndTheNextRunCompletesWithoutFetching) {
  // The second file is large, so the updater is caught while it stages it.
  const std::string big(std::size_t{192} << 20, 'B');
  Installed({{"a.dll", "a 1.0"}, {"big.bin", "big 1.0"}, {"c.dll", "c 1.0"}});
  s.Publish("express", "1.1",
            {{"a_1.1.dll", "a 1.1", "a.dll"},
             {"big_1.1.bin", big, "big.bin"},
             {"c_1.1.dll", "c 1.1", "c.dll"}});
  s.Publish("agent", "1.0", {});
  s.StartServer();
  s.WriteRegistry();
  ProgramResult r = s.RunAgent(3, 120);
  ASSERT_EQ(r.status, 0) << r.output;

  const std::string updater = s.install + "/SwiftPatcher_Mailbeacon.exe";
  const auto staging_big = [&] {
    for (const auto& e : fs::directory_iterator(s.install)) {
      // The staged copy, or the copy to it under way.
      if (e.path().filename().string().find(".big.bin.stage-") != std::string::npos) return true;
    }
    return false;
  };
  ASSERT_TRUE(WaitFor(staging_big, 30s)) << "the big file was never staged";
  const pid_t pid = FindProcess(updater);
  if (pid <= 0 || !fs::exists(s.update + "/install_journal.txt"))
    GTEST_SKIP() << "the updater finished first";
  kill(pid, SIGKILL);
  ASSERT_TRUE(WaitFor([&] { return FindProcess(updater) < 0; }, 5s));
  EXPECT_EQ(Inst("a.dll"), "a 1.0");  // staged, never swapped in
  EXPECT_EQ(Inst("c.dll"), "c 1.0");
  EXPECT_TRUE(fs::exists(s.update + "/mailbeacon_download.ini"));

  s.TakeRequests();
  r = s.RunAgent(3, 120);
  ASSERT_EQ(r.status, 0) << r.output;
  for (const std::string& request : s.TakeRequests()) {
    EXPECT_EQ(request.find("program="), std::string::npos) << "fetched again: " << request;
  }
  ASSERT_TRUE(s.WaitForUpdater(60)) << "the updater did not finish";
  EXPECT_EQ(Inst("a.dll"), "a 1.1");
  EXPECT_EQ(Inst("a.dll_old"), "a 1.0");
  EXPECT_EQ(fs::file_size(fs::path(s.install) / "big.bin"), big.size());
  EXPECT_EQ(Inst("big.bin_old"), "big 1.0");
  EXPECT_EQ(Inst("c.dll"), "c 1.1");
  for (const auto& entry : fs::directory_iterator(s.install)) {
    EXPECT_NE(entry.path().filename().string()[0], '.') << "left behind: " << entry.path();
  }
  EXPECT_FALSE(fs::exists(s.update + "/install_journal.txt"));
  ExpectUpToDateNextRun();
}

// Two agents started together (the log-on entry and a double-click), twenty
// times: the release is downloaded once and installed once each time, the
// install record stays whole, and no program logs a failure.
TEST_F(UpdateLoop, TwoAgentsStartedTogetherInstallOnce) {
  s.Publish("express", "1.1", {{"a_1.1.dll", "a 1.1", "a.dll"}, {"b_1.1.dll", "b 1.1", "b.dll"}});
  s.Publish("agent", "1.0", {});
  s.StartServer();
  s.WriteRegistry();
  const std::string log_path = s.update + "/update_log.txt";
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Installed({{"a.dll", "a 1.0"}, {"b.dll", "b 1.0"}});
    fs::remove(fs::path(s.install) / "a.dll_old");
    fs::remove(fs::path(s.install) / "b.dll_old");
    const std::size_t log_before = fs::exists(log_path) ? fs::file_size(log_path) : 0;
    s.TakeRequests();
    auto first = std::async(std::launch::async, [&] { return s.RunAgent(3, 60); });
    auto second = std::async(std::launch::async, [&] { return s.RunAgent(3, 60); });
    for (const ProgramResult& r : {first.get(), second.get()}) {
      EXPECT_TRUE(r.status == 0 || r.status == 5 || r.status == 6) << r.status << r.output;
    }
    ASSERT_TRUE(s.WaitForUpdater(60)) << "the updater did not finish";
    EXPECT_EQ(Inst("a.dll"), "a 1.1");
    EXPECT_EQ(Inst("b.dll"), "b 1.1");
    EXPECT_EQ(Inst("a.dll_old"), "a 1.0");
    const std::string record = s.Read("inst/update/install_version.ini");
    EXPECT_NE(record.find("[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.1\r\nLAST_VERSION=1.1\r\n"),
              std::string::npos)
        << record;
    EXPECT_NE(record.find("[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\n"), std::string::npos)
        << record;
    EXPECT_NE(record.find("[a.dll]\r\nVERSION=1.1\r\n"), std::string::npos) << record;
    int fetched = 0;
    for (const std::string& request : s.TakeRequests()) {
      fetched += request.find("program=") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(fetched, 2);
    const std::string log = ReadFile(log_path).substr(log_before);
    std::size_t installed = 0;
    for (std::size_t at = log.find("Installed : "); at != std::string::npos;
         at = log.find("Installed : ", at + 1)) {
      ++installed;
    }
    EXPECT_EQ(installed, 2u) << log;
    for (const char* failure : {"stopped", "not installed", "refused", "Could not", "put back"}) {
      EXPECT_EQ(log.find(failure), std::string::npos) << log;
    }
  }
}

}  // namespace
}  // namespace mb::test
