#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "helpers/scoped_env.h"
#include "platform/posix/posix_window_system.h"
#include "support/error.h"

namespace mb::posix {
namespace {

using Clock = std::chrono::steady_clock;

// A window system whose stderr is a memory buffer and whose terminal input
// is a given text.
class Console {
 public:
  Console(bool is_tty, const std::string& input) : input_(input) {
    out_ = open_memstream(&out_buf_, &out_len_);
    in_ =
        input_.empty() ? std::fopen("/dev/null", "r") : fmemopen(input_.data(), input_.size(), "r");
    ws_ = std::make_unique<PosixWindowSystem>(out_, is_tty, in_);
  }
  ~Console() {
    std::fclose(in_);
    std::fclose(out_);
    std::free(out_buf_);
  }
  PosixWindowSystem& ws() { return *ws_; }
  std::string Output() {
    std::fflush(out_);
    return std::string(out_buf_, out_len_);
  }
  std::string UnreadInput() {
    std::string rest;
    for (int c; (c = std::fgetc(in_)) != EOF;) rest += static_cast<char>(c);
    return rest;
  }

 private:
  std::string input_;
  std::FILE* in_ = nullptr;
  std::FILE* out_ = nullptr;
  char* out_buf_ = nullptr;
  std::size_t out_len_ = 0;
  std::unique_ptr<PosixWindowSystem> ws_;
};

// A terminal that cannot move its cursor (TERM=dumb, or no TERM at all)
// gets the status lines one below the other, without a control sequence;
// any other terminal gets the line redrawn in place.
TEST(OsWindowSystemTest, DumbTerminalGetsNoControlSequences) {
  for (const char* term : std::vector<const char*>{"dumb", "", nullptr, "xterm"}) {
    test::ScopedEnv env("TERM", term);
    Console console(true, "");
    auto view = console.ws().CreateSplashView();
    view->Show();
    view->SetStatus("Comparing file versions");
    view->SetTransfer(1, 2, 512, 1024);
    view->PaintBar(50, 100, 0);
    view->Unload();
    const std::string out = console.Output();
    const bool in_place = term != nullptr && std::string(term) == "xterm";
    EXPECT_EQ(out.find('\x1b') != std::string::npos, in_place) << (term ? term : "(unset)") << out;
    EXPECT_EQ(out.find('\r') != std::string::npos, in_place) << (term ? term : "(unset)") << out;
    EXPECT_NE(out.find("Comparing file versions"), std::string::npos) << out;
  }
}

TEST(OsWindowSystemTest, TimerFiresOncePerArmingAfterItsInterval) {
  Console console(false, "");
  auto& ws = console.ws();
  std::vector<int> fired;
  Clock::time_point start = Clock::now();
  std::vector<Clock::duration> at;
  ws.ArmTimer(40);
  ws.RunMessageLoop([&] {
    fired.push_back(static_cast<int>(fired.size()));
    at.push_back(Clock::now() - start);
    if (fired.size() < 3) ws.ArmTimer(20);  // a handler re-arms for the next run
  });
  EXPECT_EQ(fired, (std::vector<int>{0, 1, 2}));
  ASSERT_EQ(at.size(), 3u);
  EXPECT_GE(at[0], std::chrono::milliseconds(40));
  EXPECT_GE(at[2] - at[1], std::chrono::milliseconds(20));
}

TEST(OsWindowSystemTest, ArmingReplacesAndDisarmingStopsTheLoop) {
  Console console(false, "");
  auto& ws = console.ws();
  int calls = 0;
  ws.RunMessageLoop([&] { ++calls; });  // nothing armed: returns at once
  EXPECT_EQ(calls, 0);

  ws.ArmTimer(30000);
  ws.ArmTimer(1);  // replaces the long arming
  ws.RunMessageLoop([&] { ++calls; });
  EXPECT_EQ(calls, 1);

  ws.ArmTimer(1);
  ws.RunMessageLoop([&] {
    ++calls;
    ws.ArmTimer(1);
    ws.DisarmTimer();
  });
  EXPECT_EQ(calls, 2);
}

TEST(OsWindowSystemTest, ProcessEndFromTheHandlerPropagates) {
  Console console(false, "");
  auto& ws = console.ws();
  ws.ArmTimer(1);
  try {
    ws.RunMessageLoop([&] {
      ws.ArmTimer(1);
      throw ProcessEnd{3};
    });
    ADD_FAILURE() << "ProcessEnd did not propagate";
  } catch (const ProcessEnd& end) {
    EXPECT_EQ(end.status, 3);
  }
}

TEST(OsWindowSystemTest, OkBoxWithoutTerminalPrintsAndGoesOn) {
  Console console(false, "typed ahead\n");
  console.ws().MessageBoxOk("Sorry.\r\nInstallation impossible.\r\nRetry.", "Mailbeacon");
  EXPECT_EQ(console.Output(), "Mailbeacon: Sorry.\nInstallation impossible.\nRetry.\n");
  EXPECT_EQ(console.UnreadInput(), "typed ahead\n");
}

TEST(OsWindowSystemTest, BoxTextsCannotSteerTheTerminal) {
  Console console(false, "");
  console.ws().MessageBoxOk("Installation failure : \x1b[2J\rgone\x07", "Mailbeacon");
  console.ws().MessageBoxInformation(
      "Download incomplete.\r\nNext \xC2\x9B"
      "31m",
      "Mailbeacon");
  EXPECT_EQ(console.Output(),
            "Mailbeacon: Installation failure :  [2J\ngone \n"
            "Mailbeacon: Download incomplete.\nNext  31m\n");
}

TEST(OsWindowSystemTest, OkBoxOnTerminalWaitsForEnter) {
  Console console(true, "\nnext answer\n");
  console.ws().MessageBoxOk("Installation failure : Disk full", "Mailbeacon");
  std::string out = console.Output();
  EXPECT_NE(out.find("Mailbeacon: Installation failure : Disk full"), std::string::npos) << out;
  EXPECT_EQ(console.UnreadInput(), "next answer\n");

  Console at_eof(true, "");
  at_eof.ws().MessageBoxOk("text", "Mailbeacon");  // must not hang or fail
  EXPECT_NE(at_eof.Output().find("Mailbeacon: text"), std::string::npos);
}

TEST(OsWindowSystemTest, YesNoOnTerminalReadsTheAnswer) {
  struct Case {
    std::string input;
    bool yes;
    std::string left;
  };
  const std::vector<Case> cases = {
      {"y\nrest", true, "rest"}, {"Yes\r\n", true, ""}, {"n\nrest", false, "rest"},
      {"\ny\n", false, "y\n"},   {"", false, ""},       {"maybe\nyes\n", true, ""},
      {"maybe", false, ""},
  };
  for (const Case& c : cases) {
    Console console(true, c.input);
    EXPECT_EQ(console.ws().MessageBoxYesNo("Retry?", "Mailbeacon Installation"), c.yes) << c.input;
    EXPECT_EQ(console.UnreadInput(), c.left) << c.input;
    EXPECT_NE(console.Output().find("Mailbeacon Installation: Retry? [y/N]"), std::string::npos);
  }
}

// Only a terminal whose input can answer makes the agent ask its question.
TEST(OsWindowSystemTest, QuestionsAreAskedOnlyWhereSomeoneCanAnswer) {
  EXPECT_TRUE(Console(true, "").ws().CanAskUser());
  EXPECT_FALSE(Console(false, "y\n").ws().CanAskUser());
  Console no_input(true, "");
  no_input.ws().SetNoAnswers();
  EXPECT_FALSE(no_input.ws().CanAskUser());
}

TEST(OsWindowSystemTest, YesNoWithoutTerminalIsNo) {
  Console console(false, "y\n");
  EXPECT_FALSE(console.ws().MessageBoxYesNo("Line 1\r\nRetry?", "Mailbeacon Installation"));
  EXPECT_EQ(console.Output(), "Mailbeacon Installation: Line 1\nRetry? [y/N]\n");
  EXPECT_EQ(console.UnreadInput(), "y\n");
}

TEST(OsWindowSystemTest, TaskbarLiesAlongTheBottomOfTheScreen) {
  Console console(false, "");
  auto& ws = console.ws();
  platform::PixelRect bar;
  ASSERT_TRUE(ws.GetTaskbarRect(&bar));
  EXPECT_EQ(bar.left, 0);
  EXPECT_EQ(bar.right * ws.TwipsPerPixelX(), ws.ScreenWidthTwips());
  EXPECT_EQ(bar.bottom * ws.TwipsPerPixelY(), ws.ScreenHeightTwips());
  EXPECT_GT(bar.top * ws.TwipsPerPixelY(), ws.ScreenHeightTwips() / 2);
  EXPECT_LT(bar.top, bar.bottom);
}

}  // namespace
}  // namespace mb::posix
