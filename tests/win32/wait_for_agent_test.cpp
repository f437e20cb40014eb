// The updater's wait on Windows: it lasts as long as a top-level window with
// the agent's caption exists, hidden or not, ends once none is left, and
// gives up at its limit.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/win32/win32_window_system.h"
#include "platform/win32/win32_windows.h"
#include "updater/wait_for_agent.h"

namespace mb::updater {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr const char* kAgentCaption = "Mailbeacon_Shell";

// A window on a thread of its own (a window belongs to the thread that made
// it, and only that thread can destroy it), destroyed after `life`: the
// agent's own hidden main window, or, given a caption, a bare hidden
// window with that caption.
class WindowOnItsThread {
 public:
  explicit WindowOnItsThread(milliseconds life, const char* caption = nullptr)
      : thread_([this, life, caption] { Hold(life, caption); }) {
    while (!started_) std::this_thread::sleep_for(5ms);  // Wine starts slowly
  }
  ~WindowOnItsThread() { thread_.join(); }
  bool made() const { return made_; }

 private:
  void Hold(milliseconds life, const char* caption) {
    if (caption == nullptr) {
      win32::Win32WindowSystem agent(GetModuleHandleW(nullptr));
      Started(true);
      std::this_thread::sleep_for(life);
      return;
    }
    HWND w = CreateWindowExA(0, "STATIC", caption, 0, 0, 0, 0, 0, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    Started(w != nullptr);
    if (w == nullptr) return;
    std::this_thread::sleep_for(life);
    DestroyWindow(w);
  }
  void Started(bool made) {
    made_ = made;
    started_ = true;
  }

  std::atomic<bool> started_{false};
  std::atomic<bool> made_{false};
  std::thread thread_;
};

TEST(WaitForAgent, NoAgentMeansNoWait) {
  EXPECT_EQ(WaitForAgentToEnd(kAgentCaption, 0ms), WaitResult::kEnded);
  EXPECT_EQ(WaitForAgentToEnd(kAgentCaption, 1000ms), WaitResult::kEnded);
}

TEST(WaitForAgent, EndsWhenTheAgentsWindowIsGone) {
  const auto start = steady_clock::now();
  WindowOnItsThread agent(400ms);
  EXPECT_EQ(WaitForAgentToEnd(kAgentCaption, 20000ms), WaitResult::kEnded);
  EXPECT_GE(steady_clock::now() - start, 350ms);
}

TEST(WaitForAgent, GivesUpAtTheLimitWhileTheWindowStays) {
  WindowOnItsThread agent(1500ms);
  EXPECT_EQ(WaitForAgentToEnd(kAgentCaption, 200ms), WaitResult::kTimedOut);
}

TEST(WaitForAgent, AHiddenWindowWithTheCaptionCounts) {
  constexpr const char* kCaption = "mb-updater-wait-test";
  WindowOnItsThread window(600ms, kCaption);
  ASSERT_TRUE(window.made());
  EXPECT_EQ(WaitForAgentToEnd(kCaption, 100ms), WaitResult::kTimedOut);
  const auto start = steady_clock::now();
  EXPECT_EQ(WaitForAgentToEnd(kCaption, 10s), WaitResult::kEnded);
  EXPECT_GE(steady_clock::now() - start, 200ms);
}

}  // namespace
}  // namespace mb::updater
