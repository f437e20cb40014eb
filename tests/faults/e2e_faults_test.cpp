// The real programs against a misbehaving mailbeacon-server: the agent
// process survives every mode (it keeps retrying until its bounded run
// ends), leaves nothing partial and changes nothing installed; the next
// start against a healthy server hands off, and the real updater puts the
// release in place.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <vector>

#include "e2e/sandbox.h"

namespace mb::test {
namespace {

namespace fs = std::filesystem;

constexpr int kRunLimitStatus = 5;

std::map<std::string, std::string> FilesUnder(const std::string& root, bool skip_update) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(e.path(), root).string();
    if (skip_update && rel.rfind("update", 0) == 0) continue;
    if (e.is_regular_file()) files[rel] = ReadFile(e.path());
  }
  return files;
}

// A temporary file anywhere; the update folder's scratch area (the one
// hidden folder the agent makes) is judged on its own.
bool AnyHiddenFile(const std::string& root) {
  for (auto e = fs::recursive_directory_iterator(root); e != fs::end(e); ++e) {
    const bool scratch = e->is_directory() && e->path().filename() == ".scratch";
    if (scratch) e.disable_recursion_pending();
    if (!scratch && e->path().filename().string()[0] == '.') return true;
  }
  return false;
}

// What cut transfers and failed passes kept for the next pass.
std::vector<std::string> Kept(const Sandbox& s) {
  std::vector<std::string> names;
  if (!fs::exists(s.update + "/.scratch")) return names;
  for (const auto& e : fs::directory_iterator(s.update + "/.scratch"))
    names.push_back(e.path().filename().string());
  return names;
}

std::string Listing(const std::string& root) {
  std::string out;
  for (const auto& e : fs::recursive_directory_iterator(root)) out += e.path().string() + "\n";
  return out;
}

struct ServerFault {
  const char* mode;
  const char* on;  // the requests it applies to
  int status;      // the agent's exit status with the fault
};

void PrintTo(const ServerFault& f, std::ostream* os) { *os << f.mode << " on " << f.on; }

class MisbehavingServer : public ::testing::TestWithParam<ServerFault> {
 protected:
  void SetUp() override {
    if (!fs::exists(fs::path(MB_BIN_DIR) / "mailbeacon-server")) GTEST_SKIP() << "no server built";
    s.UseRealUpdater();
    s.Publish("express", "1.1",
              {{"plugin.dll", "plugin 1.1 " + std::string(300000, 'p')}, {"help.txt", "help"}});
    s.Publish("agent", "2.0", {{"agent.cfg", "cfg 2.0"}});
    WriteFile(s.install + "/keep.dll", "installed before");
    fs::create_directories(s.update);
    WriteFile(
        s.update + "/install_version.ini",
        "[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\n[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\n");
  }
  Sandbox s;
};

TEST_P(MisbehavingServer, AgentSurvivesAndTheNextHealthyStartCompletes) {
  const ServerFault& f = GetParam();
  s.StartServer({"--misbehave", f.mode, "--misbehave-on", f.on, "--drip-ms", "1"});
  s.WriteRegistry();
  const auto installed = FilesUnder(s.install, true);

  const ProgramResult faulty = s.RunAgent(2);
  EXPECT_EQ(faulty.status, f.status) << faulty.output;
  if (f.status == kRunLimitStatus) {
    EXPECT_EQ(FilesUnder(s.install, true), installed);
    if (fs::exists(s.update + "/plugin.dll")) {
      EXPECT_EQ(fs::file_size(s.update + "/plugin.dll"), 300011u);  // whole, never partial
    }
  }
  // The updater the agent may have started works on after the agent ends;
  // its temporary copies are only gone once it has finished.
  ASSERT_TRUE(s.WaitForUpdater());
  EXPECT_FALSE(AnyHiddenFile(s.install));

  s.StartServer();
  s.WriteRegistry();
  const ProgramResult healthy = s.RunAgent(2);
  if (f.status == kRunLimitStatus) {
    ASSERT_EQ(healthy.status, 0) << healthy.output;
  } else {  // the faulty run may have completed everything already
    ASSERT_TRUE(healthy.status == 0 || healthy.status == kRunLimitStatus) << healthy.output;
  }
  ASSERT_TRUE(s.WaitForUpdater()) << Listing(s.root());
  EXPECT_EQ(s.Read("inst/plugin.dll"), "plugin 1.1 " + std::string(300000, 'p'));
  EXPECT_EQ(s.Read("inst/help.txt"), "help");
  EXPECT_EQ(s.Read("inst/agent.cfg"), "cfg 2.0");
  EXPECT_EQ(s.Read("inst/keep.dll"), "installed before");
  EXPECT_FALSE(AnyHiddenFile(s.install));
  EXPECT_EQ(Kept(s), std::vector<std::string>{});  // all of it used up
}

const ServerFault kServerFaults[] = {
    // The listed files: every run fails its pass and retries.
    {"reset", "program=", kRunLimitStatus},
    {"short-body", "program=", kRunLimitStatus},
    {"error-500", "program=", kRunLimitStatus},
    {"redirect-loop", "program=", kRunLimitStatus},
    {"wrong-hash", "version=", kRunLimitStatus},
    // The text answers: an endless pause file is cut at 4 MiB and counts
    // as "N"; an endless manifest likewise counts as none, and the agent's
    // own component still hands off.
    {"endless", "pause.aspx", 0},
    {"endless", "express_exe.aspx?version", 0},
    {"reset", "agent_exe.aspx?version", 0},
    // A slow but live server is only slow.
    {"slow-drip", "agent_exe.aspx?program", 0},
};

INSTANTIATE_TEST_SUITE_P(Faults, MisbehavingServer, ::testing::ValuesIn(kServerFaults),
                         [](const auto& param_info) {
                           std::string name =
                               std::string(param_info.param.mode) + "_on_" + param_info.param.on;
                           for (char& c : name)
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name + "_" + std::to_string(param_info.index);
                         });

}  // namespace
}  // namespace mb::test
