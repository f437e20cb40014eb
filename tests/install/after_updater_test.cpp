// The agent and what the updater leaves: one agent at a time, an install a
// crash cut off made whole before the run, copies handed over but not
// installed never fetched again (an outage in between included), a folder
// that needs rights refused once and quietly, a release put back for a file
// in use handed over again only once the file is free.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "faults/fault_fixture.h"
#include "faults/fault_wrappers.h"
#include "faults/scoped_mount.h"
#include "install/install_journal.h"
#include "platform/posix/posix_instance_lock.h"

namespace mb::test {
namespace {

namespace afs = std::filesystem;

class AfterUpdater : public FaultTest {
 protected:
  void SetUp() override {
    FaultTest::SetUp();
    AgentUpToDate();
    h.p.fs = &fs;
  }
  int FileRequests() const {
    const std::vector<std::string> all = server.Requests();
    return static_cast<int>(std::count_if(all.begin(), all.end(), [](const std::string& r) {
      return r.find("program=") != std::string::npos;
    }));
  }
  std::string Log() const {
    return afs::exists(h.UpdatePath("update_log.txt")) ? ReadFile(h.UpdatePath("update_log.txt"))
                                                       : "";
  }
  static int Occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
      ++n;
    }
    return n;
  }
  // A hand-off whose updater never ran (or put the release back): the list
  // and the verified copies wait in the update folder.
  void HandOverWithoutUpdater() {
    ASSERT_EQ(h.RunAgent(1), kExitHandOff);
    ASSERT_TRUE(afs::exists(h.UpdatePath("mailbeacon_download.ini")));
    server.ClearRequests();
  }
  std::string PluginTarget() const { return h.install + "\\plugins\\plugin.dll"; }

  FaultyFileSystem fs{h.fs};
};

// A second agent (a double-click beside the log-on start) ends at once and
// touches nothing: no request, no file; once the first is gone it runs.
TEST_F(AfterUpdater, ASecondAgentEndsAtOnceTouchingNothing) {
  const auto before = Snapshot(h.dir.path());
  {
    const auto first = posix::TryLockInstanceDir(h.install);
    ASSERT_TRUE(first);
    EXPECT_EQ(h.RunAgent(3), kExitAlreadyRunning);
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(h.windows.boxes.empty());
    auto after = Snapshot(h.dir.path());
    after.erase("inst/update/instance.lock");
    EXPECT_EQ(after, before);
  }
  EXPECT_EQ(StartAgent(), kExitHandOff);
}

// The list and the copies an updater did not install are set aside at the
// next start, which deletes the list as every run does; the pass takes the
// copies back (checked again) and hands them over without fetching them.
TEST_F(AfterUpdater, CopiesHandedOverAreNotFetchedAgain) {
  HandOverWithoutUpdater();
  EXPECT_EQ(StartAgent(), kExitHandOff);
  EXPECT_EQ(FileRequests(), 0);
  for (const auto& f : express) EXPECT_EQ(ReadFile(h.UpdatePath(f.name)), f.body);
}

// The same after a start whose server failed: the failed runs keep the
// copies (in the scratch area), the add-in stays as it is, and once the
// server is back nothing is fetched again.
TEST_F(AfterUpdater, CopiesSurviveAnOutageAndAreNotFetchedAgain) {
  HandOverWithoutUpdater();
  for (const char* target : {kPause, kExpressManifest, kAgentManifest}) {
    server.Set(target, Status(500));
  }
  const auto plugin = ReadFile(h.install + "/plugins/plugin.dll");
  EXPECT_EQ(StartAgent(3), -1);
  EXPECT_FALSE(afs::exists(h.UpdatePath("mailbeacon_download.ini")));
  EXPECT_EQ(ReadFile(h.install + "/plugins/plugin.dll"), plugin);
  for (const auto& f : express) {
    EXPECT_TRUE(afs::exists(h.update + "/.scratch/" + f.name + ".kept")) << f.name;
  }
  server.ClearRequests();
  PublishHealthy();
  AgentUpToDate();
  EXPECT_EQ(StartAgent(), kExitHandOff);
  EXPECT_EQ(FileRequests(), 0);
}

// An install a crash cut off half-way through its swaps is put back before
// the run does anything, and said in the log; the run then goes on.
TEST_F(AfterUpdater, AnInstallCutOffIsMadeWholeBeforeTheRun) {
  HandOverWithoutUpdater();
  InstallJournal j;
  j.state = JournalState::kCommitting;
  j.component = "EXPRESS_DOWNLOAD";
  j.release = "1.1";
  j.swaps = {{h.install + "\\plugins", "plugin.dll", h.update + "\\plugin.new", "Ab12Cd", true}};
  StageSwap(h.fs, j.swaps[0]);
  CommitSwap(h.fs, j.swaps[0]);
  WriteJournal(h.fs, h.update, j);
  ASSERT_EQ(ReadFile(h.install + "/plugins/plugin.dll"), express[0].body);

  EXPECT_EQ(StartAgent(), kExitHandOff);
  EXPECT_EQ(ReadFile(h.install + "/plugins/plugin.dll"), "plugin 1.0");
  EXPECT_FALSE(afs::exists(h.update + "/install_journal.txt"));
  EXPECT_NE(Log().find("Install of [EXPRESS_DOWNLOAD] 1.1 was cut off : every file was put back"),
            std::string::npos)
      << Log();
  EXPECT_EQ(FileRequests(), 0);
}

// A folder this user may not write (a read-only mount here, the system
// folder of a per-user install on Windows): the plug-in's pass fetches
// nothing and says so once in the log however often it runs, never asks the
// retry question; the agent's own files are handed over all the same.
TEST_F(AfterUpdater, AFolderThatNeedsRightsIsRefusedOnceAndQuietly) {
  ScopedMount read_only;
  if (!read_only.ReadOnly(h.install + "/plugins")) GTEST_SKIP() << "cannot mount here";
  AgentUpToDate();
  EXPECT_EQ(h.RunAgent(4), -1);
  EXPECT_EQ(FileRequests(), 0);
  EXPECT_EQ(h.tray->RetryPromptCount(), 0);
  EXPECT_TRUE(h.windows.boxes.empty());
  const std::string line =
      "Update not possible : " + h.install + "\\plugins : needs administrator rights";
  EXPECT_EQ(Occurrences(Log(), line), 1) << Log();

  PublishHealthy();  // the agent has a release of its own now
  EXPECT_EQ(StartAgent(), kExitHandOff);
  const std::string list = ReadFile(h.UpdatePath("mailbeacon_download.ini"));
  EXPECT_EQ(list.find("EXPRESS"), std::string::npos) << list;
  EXPECT_NE(list.find("[AGENT_DOWNLOAD]\r\nTOTAL_FILES=1"), std::string::npos) << list;
}

// The updater put release 1.1 back because the plug-in was in use: the
// agent hands it over again only once the file is free, without fetching
// it again, and meanwhile runs as a failed run does, without the question.
TEST_F(AfterUpdater, AReleasePutBackForAFileInUseWaitsUntilItIsFree) {
  HandOverWithoutUpdater();
  WriteFile(h.UpdatePath("install_outcome.ini"),
            "[EXPRESS_DOWNLOAD]\r\nRELEASE=1.1\r\nRESULT=failed\r\nREASON=in-use\r\nFILE=" +
                PluginTarget() + "\r\nTIME=2026-12-08 12:00:00\r\n");
  bool held = true;
  fs.access_rule = [&](const std::string& p) -> std::optional<platform::AccessCheck> {
    if (!held || p != PluginTarget()) return std::nullopt;
    return platform::AccessCheck{platform::Access::kInUse, "Sharing violation"};
  };
  h.tray = std::make_unique<frmTray>(h.p);
  h.windows = RecordingWindowSystem{};
  h.process.starts.clear();
  EXPECT_EQ(h.RunAgent(4), -1);
  EXPECT_TRUE(h.process.starts.empty());
  EXPECT_EQ(FileRequests(), 0);
  EXPECT_EQ(h.tray->RetryPromptCount(), 0);
  EXPECT_TRUE(h.windows.boxes.empty());
  EXPECT_FALSE(afs::exists(h.UpdatePath("install_outcome.ini")));  // read once
  EXPECT_EQ(Occurrences(Log(), "Waiting for " + PluginTarget() + " : in use by another program"),
            1);

  held = false;  // the mail program ended
  EXPECT_EQ(h.RunAgent(1), kExitHandOff);
  EXPECT_EQ(FileRequests(), 0);
  for (const auto& f : express) EXPECT_EQ(ReadFile(h.UpdatePath(f.name)), f.body);
}

// The update folder takes no links: one there would have the agent write
// or clear what it leads to. Each is removed as a link at the start of a
// run, which says so, and what it led to is untouched: a scratch area that
// leads to another folder, a partial download that leads to a file, a log
// that leads to a file. An update folder that is itself a link is refused.
TEST_F(AfterUpdater, LinksInTheUpdateFolderAreRemovedNeverFollowed) {
  const std::string victim = h.dir.str() + "/victim";
  afs::create_directories(victim + "/folder");
  WriteFile(victim + "/folder/precious.txt", "precious");
  WriteFile(victim + "/file.bin", "keep me");
  WriteFile(victim + "/log.txt", "log of someone else\n");
  afs::create_directory_symlink(victim + "/folder", h.update + "/.scratch");
  afs::create_symlink(victim + "/log.txt", h.UpdatePath("update_log.txt"));
  EXPECT_EQ(h.RunAgent(1), kExitHandOff);
  EXPECT_EQ(ReadFile(victim + "/folder/precious.txt"), "precious");
  EXPECT_EQ(ReadFile(victim + "/log.txt"), "log of someone else\n");
  EXPECT_FALSE(afs::is_symlink(h.update + "/.scratch"));
  EXPECT_FALSE(afs::is_symlink(h.UpdatePath("update_log.txt")));
  EXPECT_NE(Log().find("Removed a link from the update folder : .scratch"), std::string::npos)
      << Log();
  EXPECT_NE(Log().find("Removed a link from the update folder : update_log.txt"),
            std::string::npos);

  // A partial download that leads to a file: never resumed into it.
  afs::create_directories(h.update + "/.scratch");
  afs::create_symlink(victim + "/file.bin", h.update + "/.scratch/plugin.new.part");
  WriteFile(h.update + "/.scratch/plugin.new.part.rec", "junk");
  EXPECT_EQ(StartAgent(), kExitHandOff);
  EXPECT_EQ(ReadFile(victim + "/file.bin"), "keep me");
  EXPECT_EQ(ReadFile(h.UpdatePath("plugin.new")), express[0].body);

  // The update folder itself a link: the agent refuses to work in it.
  afs::remove_all(h.update);
  afs::create_directory_symlink(victim + "/folder", h.update);
  EXPECT_EQ(StartAgent(), kExitError);
  ASSERT_EQ(h.windows.boxes.size(), 1u);
  EXPECT_NE(h.windows.boxes[0].text.find("the update folder is a link"), std::string::npos);
  EXPECT_EQ(Snapshot(victim + "/folder"),
            (std::map<std::string, std::string>{{"precious.txt", "precious"}}));
}

}  // namespace
}  // namespace mb::test
