// The updater's wait on Windows: it ends once no window captioned like the
// agent's main window is left, and gives up at its limit.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/win32/win32_window_system.h"
#include "updater/wait_for_agent.h"

namespace mb::updater {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// An agent's main window on its own thread (a window belongs to the thread
// that made it), closed after `life`.
class FakeAgent {
 public:
  explicit FakeAgent(milliseconds life)
      : thread_([this, life] {
          win32::Win32WindowSystem ws(GetModuleHandleW(nullptr));
          shown_ = true;
          std::this_thread::sleep_for(life);
        }) {
    while (!shown_) std::this_thread::sleep_for(milliseconds(5));
  }
  ~FakeAgent() { thread_.join(); }

 private:
  std::atomic<bool> shown_{false};
  std::thread thread_;
};

TEST(WaitForAgent, EndsWhenTheAgentsWindowIsGone) {
  const auto start = steady_clock::now();
  FakeAgent agent(milliseconds(400));
  EXPECT_EQ(WaitForAgentToEnd("Mailbeacon_Shell", milliseconds(20000)), WaitResult::kEnded);
  EXPECT_GE(steady_clock::now() - start, milliseconds(350));
}

TEST(WaitForAgent, GivesUpAtTheLimitWhileTheWindowStays) {
  FakeAgent agent(milliseconds(1500));
  EXPECT_EQ(WaitForAgentToEnd("Mailbeacon_Shell", milliseconds(200)), WaitResult::kTimedOut);
}

TEST(WaitForAgent, NoAgentMeansNoWait) {
  EXPECT_EQ(WaitForAgentToEnd("Mailbeacon_Shell", milliseconds(0)), WaitResult::kEnded);
}

}  // namespace
}  // namespace mb::updater
