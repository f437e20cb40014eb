// Staged releases without the offline key: the rollout state file, the
// pause answer that carries its shares (agents of every version must read
// the same first line), the halting rule, the board a running server keeps
// (halting by itself, resuming, a file it cannot write) and the rollout
// command.
#include <gtest/gtest.h>

#include <sstream>

#include "helpers/temp_dir.h"
#include "rules/fleet_settings.h"
#include "server/ansi_code_page.h"
#include "server/rollout/halt_rule.h"
#include "server/rollout/release_shares.h"
#include "server/rollout/rollout_board.h"
#include "server/rollout/rollout_command.h"
#include "server/rollout/rollout_file.h"
#include "server/rollout/rollout_state.h"

namespace mb::server {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

TEST(HaltRule, HaltsOnlyAfterEnoughReportsAndAboveTheShare) {
  struct Case {
    HaltRule rule;
    OutcomeCounts counts;
    bool halts;
  } cases[] = {
      {{20, 10}, {0, 0}, false},                              // nothing yet
      {{20, 10}, {0, 9}, false},                              // all failed, but too few
      {{20, 10}, {8, 2}, false},                              // exactly 20 %: not above
      {{20, 10}, {7, 3}, true},                               // 30 %
      {{0, 1}, {5, 1}, true},                                 // any failure at all
      {{0, 1}, {5, 0}, false},   {{100, 1}, {0, 50}, false},  // never above 100 %
      {{50, 4}, {1, 3}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShouldHalt(c.rule, c.counts), c.halts)
        << c.rule.above_percent << "% min " << c.rule.min_reports << ": " << c.counts.installed
        << " installed, " << c.counts.failed << " failed";
  }
  EXPECT_EQ(Since({10, 7}, {4, 2}), (OutcomeCounts{6, 5}));
  EXPECT_EQ(Since({1, 1}, {4, 2}), (OutcomeCounts{0, 0}));
}

TEST(RolloutState, ReadsWhatItWritesAndLeavesOutWhatIsNoEntry) {
  RolloutState state;
  state["ORG/express"] = {"1.0.6", 5, HaltRule{20, 50}, "", "2026-12-08T09:00:00Z"};
  state["MIRROR/outlook/2003"] = {"3.0", std::nullopt, std::nullopt, "2026-12-08T10:00:00Z", ""};
  std::vector<std::string> problems;
  EXPECT_EQ(ParseRolloutState(formats::ProfileDocument(RolloutStateText(state)), problems), state);
  EXPECT_TRUE(problems.empty());

  const std::string bad =
      "[ORG/express]\nRELEASE=1.0\nSHARE=25%\n"    // no share
      "[ORG/agent]\nRELEASE=2.0\nHALT_ABOVE=20\n"  // half a rule
      "[ORG/nothing]\nRELEASE=1\n"                 // no component
      "[MIRROR/express]\nSHARE=5\n"                // no release
      "[ORG/outlook/Beta]\nRELEASE=3\nSHARE=0\n";  // fine: the label in lower case
  const RolloutState read = ParseRolloutState(formats::ProfileDocument(bad), problems);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read.at("ORG/outlook/beta").share, 0);
  EXPECT_EQ(problems.size(), 4u);
}

TEST(RolloutState, ComponentFolderKeys) {
  const std::pair<std::string, std::string> cases[] = {
      {"ORG/express", "ORG/express"},
      {"MIRROR/agent", "MIRROR/agent"},
      {"ORG/outlook", "ORG/outlook"},
      {"ORG/outlook/2003", "ORG/outlook/2003"},
      {"ORG/outlook/Beta", "ORG/outlook/beta"},
      {"ORG/express/2003", ""},
      {"org/express", ""},
      {"ORG/outlook/..", ""},
      {"ORG/outlook/a b", ""},
      {"ORG", ""},
      {"ORG/", ""},
      {"ELSE/express", ""},
  };
  for (const auto& [text, key] : cases)
    EXPECT_EQ(ComponentFolderKey(text).value_or(""), key) << text;
}

// A published component folder as a snapshot holds it.
ComponentRelease Published(const std::string& release, std::optional<int> rollout = {}) {
  ComponentRelease c;
  c.manifest.status = 200;
  c.last_version = release;
  c.rollout = rollout;
  return c;
}

Answer PauseOf(const std::string& body, int status = 200) {
  Answer a;
  a.status = status;
  a.body = body;
  return a;
}

std::string FirstLine(const std::string& body) { return body.substr(0, body.find('\r')); }

TEST(ReleaseShares, OnlyLinesAreAddedAndTheFirstLineStaysAsAgentsReadIt) {
  AnsiCodePage cp(949);
  const std::map<std::string, ComponentRelease> components = {{"ORG/express", Published("1.0.6")}};
  RolloutState state;
  state["ORG/express"] = {"1.0.6", 30, {}, "", ""};
  const char* const pauses[] = {"N",           "N\r\n",         "N\r\nPOLL=5",    "N\r",
                                "Y\nPOLL=5\n", "\r\nREPORTS=Y", "R\r\nPOLL=9\r\n"};
  for (const std::string pause : pauses) {
    const SharedPause shared = ComposePause(PauseOf(pause), components, state, cp);
    EXPECT_EQ(shared.body.rfind(pause, 0), 0u) << pause;
    EXPECT_EQ(FirstLine(shared.body), FirstLine(pause)) << pause;
    EXPECT_EQ(fleet::PauseSetting(shared.body, "ROLLOUT:ORG/express").value_or(""), "30 1.0.6")
        << pause;
    EXPECT_EQ(fleet::PauseSetting(shared.body, "POLL"), fleet::PauseSetting(pause, "POLL"))
        << pause;
    ASSERT_EQ(shared.shares.size(), 1u);
    EXPECT_EQ(shared.shares[0].share, 30);
  }
  // An empty file fails agents, a refused one keeps them from installing:
  // neither becomes a first line that selects ORG.
  for (const Answer& pause : {PauseOf(""), PauseOf("Internal Server Error", 500)}) {
    const SharedPause shared = ComposePause(pause, components, state, cp);
    EXPECT_EQ(shared.body, pause.body);
    EXPECT_EQ(shared.problems.size(), 1u);
  }
}

TEST(ReleaseShares, WhatAgentsTakeEachReleaseAt) {
  AnsiCodePage cp(949);
  const std::string korean = "1.0-\xEB\xA9\x94\xEC\x9D\xBC";  // 1.0-메일
  std::map<std::string, ComponentRelease> components = {
      {"ORG/express", Published("1.0.7", 25)},  // state for an older release
      {"ORG/agent", Published("2.0")},          // halted
      {"MIRROR/express", Published(korean)},    // in the code page
      {"ORG/outlook", Published("3.0", 40)},    // no state: its ROLLOUT
      {"ORG/outlook/2003", Published("3.0")},   // the generic add-in's line
      {"MIRROR/agent", Published("2.0")},       // the vendor's own line first
  };
  components["ORG/outlook/2000"].manifest.status = 500;  // refused: no share
  RolloutState state;
  state["ORG/express"] = {"1.0.6", 10, {}, "", ""};
  state["ORG/agent"] = {"2.0", 50, HaltRule{10, 5}, "2026-12-08T10:00:00Z", ""};
  state["MIRROR/express"] = {korean, 15, {}, "", ""};
  state["ORG/outlook/2000"] = {"3.0", 5, {}, "", ""};
  state["ORG/outlook"] = {"3.0", 60, {}, "", ""};
  state["MIRROR/agent"] = {"2.0", 70, {}, "", ""};
  const SharedPause shared =
      ComposePause(PauseOf("N\r\nROLLOUT:MIRROR/agent=1 2.0\r\n"), components, state, cp);
  std::map<std::string, std::pair<int, bool>> got;
  for (const ComponentShare& s : shared.shares) got[s.key] = {s.share, s.halted};
  const std::map<std::string, std::pair<int, bool>> expected = {
      {"ORG/express", {25, false}},      {"ORG/agent", {0, true}},
      {"MIRROR/express", {15, false}},   {"ORG/outlook", {60, false}},
      {"ORG/outlook/2003", {60, false}}, {"MIRROR/agent", {1, false}}};
  EXPECT_EQ(got, expected) << shared.body;
  // The release travels in the agents' code page.
  EXPECT_NE(
      shared.body.find("ROLLOUT:MIRROR/express=15 1.0-" + *cp.FromUtf8("\xEB\xA9\x94\xEC\x9D\xBC")),
      std::string::npos);
  EXPECT_EQ(shared.body.find("ORG/outlook/2000"), std::string::npos);
  ASSERT_EQ(shared.problems.size(), 1u);
  EXPECT_NE(shared.problems[0].find("pause.txt sets ROLLOUT:MIRROR/agent itself"),
            std::string::npos);
}

// A release folder with one published component.
void Release(const fs::path& root, const std::string& version, const std::string& pause = "N\r\n") {
  WriteFile(root / "pause.txt", pause);
  WriteFile(root / "ORG/express/release.ini", "[RELEASE]\nLAST_VERSION=" + version + "\n");
  WriteFile(root / "ORG/express/plugin.dll", "plugin " + version);
}

int Rollout(const std::vector<std::string>& args, std::string* output = nullptr) {
  std::ostringstream out, err;
  const int status = RunRollout(args, out, err);
  if (output != nullptr) *output = out.str() + err.str();
  return status;
}

class Board : public ::testing::Test {
 protected:
  Board()
      : cp_(949),
        board_(
            temp_.path(), 949, {}, 14, [this](const std::string& w) { warnings_.push_back(w); },
            [] { return std::chrono::system_clock::time_point(std::chrono::hours(491000)); }) {
    Release(temp_.path(), "1.0.6");
    snapshot_ = Snapshot();
  }
  std::shared_ptr<const ReleaseSnapshot> Snapshot() {
    return ReleaseSnapshot::Build(ReleaseFolder(temp_.path()), cp_, {});
  }
  void Report(const std::string& result, int times) {
    for (int i = 0; i < times; ++i)
      board_.Reported({"express", "1.0.6", result, result == "failed" ? "io" : ""}, snapshot_);
  }
  std::string Share() {
    return std::string(
        fleet::PauseSetting(board_.View(snapshot_)->pause.body, "ROLLOUT:ORG/express")
            .value_or(""));
  }
  int RolloutCommand(std::vector<std::string> more) {
    std::vector<std::string> args = {"--root", temp_.str(), "--component", "ORG/express"};
    args.insert(args.end(), more.begin(), more.end());
    const int status = Rollout(args);
    board_.State();  // the board looks at the file now, not within a quarter second
    return status;
  }

  test::TempDir temp_;
  AnsiCodePage cp_;
  std::vector<std::string> warnings_;
  RolloutBoard board_;
  std::shared_ptr<const ReleaseSnapshot> snapshot_;
};

TEST_F(Board, HaltsByItselfWritesItDownAndResumesOnlyWhenTold) {
  EXPECT_EQ(Share(), "");  // nothing set: the pause answer is the vendor's
  EXPECT_EQ(board_.View(snapshot_)->pause.body, "N\r\n");
  ASSERT_EQ(RolloutCommand({"--share", "5", "--halt-above", "20", "--halt-min", "10"}), 0);
  EXPECT_EQ(Share(), "5 1.0.6");
  const std::string etag = board_.View(snapshot_)->pause.etag;
  EXPECT_NE(etag, snapshot_->Pause().etag);  // caches see the new answer

  Report("installed", 7);
  Report("failed", 2);   // 9 reports: too few
  Report("refused", 5);  // not an install outcome
  EXPECT_EQ(Share(), "5 1.0.6");
  EXPECT_TRUE(warnings_.empty());
  Report("failed", 1);  // 3 of 10 failed: above 20 %
  EXPECT_EQ(Share(), "0 1.0.6");
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_NE(warnings_[0].find("ORG/express: release 1.0.6 halted by itself: 3 of 10"),
            std::string::npos)
      << warnings_[0];
  EXPECT_NE(ReadFile(RolloutFile(temp_.path())).find("HALTED="), std::string::npos);
  ASSERT_EQ(board_.View(snapshot_)->shares.size(), 1u);
  EXPECT_TRUE(board_.View(snapshot_)->shares[0].halted);

  // Resumed: the count starts afresh, so one more failure does not halt it again.
  ASSERT_EQ(RolloutCommand({"--share", "10"}), 0);
  EXPECT_EQ(Share(), "10 1.0.6");
  EXPECT_FALSE(board_.View(snapshot_)->shares[0].halted);
  Report("failed", 1);
  EXPECT_EQ(Share(), "10 1.0.6");
  Report("failed", 9);
  EXPECT_EQ(Share(), "0 1.0.6");
}

TEST_F(Board, ARuleSetAfterTheReportsCountsFromThenAndANewReleaseStartsAfresh) {
  Report("failed", 20);
  ASSERT_EQ(RolloutCommand({"--halt-above", "50", "--halt-min", "2"}), 0);
  EXPECT_EQ(Share(), "");  // a rule alone sets no share: the release's own ROLLOUT holds
  Report("installed", 2);
  EXPECT_EQ(Share(), "");
  ASSERT_EQ(RolloutCommand({"--share", "20"}), 0);

  // Another release published in that folder: the share and the rule no longer apply.
  Release(temp_.path(), "1.0.7");
  snapshot_ = Snapshot();
  EXPECT_EQ(Share(), "");
  EXPECT_EQ(board_.View(snapshot_)->shares.at(0).share, 100);
  for (int i = 0; i < 5; ++i) board_.Reported({"express", "1.0.7", "failed", "io"}, snapshot_);
  EXPECT_TRUE(warnings_.empty());
}

TEST_F(Board, AHaltThatCannotBeWrittenHoldsInThisServerUntilTheEntryChanges) {
  // An entry the server cannot read: rewriting the file would drop it, so
  // the halt is not written.
  WriteFile(RolloutFile(temp_.path()),
            "[ORG/express]\nRELEASE=1.0.6\nSHARE=40\nHALT_ABOVE=0\nHALT_MIN=1\n"
            "[ORG/agent]\nRELEASE=2.0\nSHARE=abc\n");
  board_.State();
  EXPECT_EQ(Share(), "40 1.0.6");
  Report("failed", 1);
  EXPECT_EQ(Share(), "0 1.0.6");
  ASSERT_FALSE(warnings_.empty());
  EXPECT_NE(warnings_.back().find("it holds in this server only"), std::string::npos)
      << warnings_.back();
  EXPECT_EQ(ReadFile(RolloutFile(temp_.path())).find("HALTED"), std::string::npos);
  // The vendor mends the file and resumes at 40.
  WriteFile(RolloutFile(temp_.path()),
            "[ORG/express]\nRELEASE=1.0.6\nSHARE=40\nCHANGED=2026-12-09T00:00:00Z\n");
  board_.State();
  EXPECT_EQ(Share(), "40 1.0.6");
}

TEST(RolloutCommand, SetsTheShareOfThePublishedReleaseOnly) {
  test::TempDir temp;
  Release(temp.path(), "1.0.6");
  const std::string root = temp.str();
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string said;
  } cases[] = {
      {{"--root", root, "--component", "ORG/express", "--share", "101"}, 2, "bad value"},
      {{"--root", root, "--component", "ORG/express", "--share", "5%"}, 2, "bad value"},
      {{"--root", root, "--component", "ORG/express", "--halt-above", "20"}, 2, "go together"},
      {{"--root", root, "--share", "5"}, 2, "need --component"},
      {{"--component", "ORG/express", "--share", "5"}, 2, "needs --root"},
      {{"--root", root, "--component", "ORG/xpress", "--share", "5"}, 2, "--component takes"},
      {{"--root", root, "--component", "ORG/agent", "--share", "5"}, 1, "nothing is published"},
      {{"--root", (temp / "nowhere").string(), "--component", "ORG/express", "--share", "5"},
       1,
       "is not a folder"},
      {{"--root", root}, 0, "no component has a share of its own"},
      {{"--root", root, "--component", "ORG/express", "--share", "5"}, 0, "release 1.0.6 at 5 %"},
      {{"--root", root, "--component", "ORG/express", "--halt-above", "20", "--halt-min", "50"},
       0,
       "at 5 %, halts by itself above 20 % failed after 50 reports"},
      {{"--root", root, "--component", "ORG/express", "--no-halt"}, 0, "release 1.0.6 at 5 %\n"},
      {{"--root", root}, 0, "ORG/express: release 1.0.6 at 5 %"},
  };
  for (const Case& c : cases) {
    std::string output;
    EXPECT_EQ(Rollout(c.args, &output), c.status) << output;
    EXPECT_NE(output.find(c.said), std::string::npos) << c.said << " in " << output;
  }
  EXPECT_FALSE(fs::exists(temp / "nowhere"));
  // A new release: the state of the old one is shown as not applying, and
  // a change starts the new one's entry afresh.
  Release(temp.path(), "1.0.7");
  std::string output;
  Rollout({"--root", root}, &output);
  EXPECT_NE(output.find("release 1.0.6 (not published there now: ignored; 1.0.7 is)"),
            std::string::npos)
      << output;
  ASSERT_EQ(Rollout({"--root", root, "--component", "ORG/express", "--halt-above", "5",
                     "--halt-min", "3"},
                    &output),
            0);
  EXPECT_NE(output.find("release 1.0.7 at its own ROLLOUT, halts by itself"), std::string::npos)
      << output;
}

}  // namespace
}  // namespace mb::server
