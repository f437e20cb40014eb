// The Windows wait for the agent: it lasts as long as a top-level window
// with the agent's caption exists, hidden or not. Built only on Windows.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/win32/win32_windows.h"
#include "updater/wait_for_agent.h"

namespace mb::updater {
namespace {

using namespace std::chrono_literals;
constexpr const char* kCaption = "mb-updater-wait-test";

// A hidden window with the caption, made and destroyed on its own thread
// (a window can only be destroyed by the thread that made it).
void HoldWindow(std::chrono::milliseconds how_long, std::atomic<bool>* made) {
  HWND w = CreateWindowExA(0, "STATIC", kCaption, 0, 0, 0, 0, 0, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  if (w == nullptr) return;
  *made = true;
  std::this_thread::sleep_for(how_long);
  DestroyWindow(w);
}

TEST(UpdaterWaitTest, WaitsWhileTheAgentsWindowExists) {
  EXPECT_EQ(WaitForAgentToEnd(kCaption, 1000ms), WaitResult::kEnded);  // no window at all

  std::atomic<bool> made{false};
  std::thread holder(HoldWindow, 600ms, &made);
  for (int i = 0; i < 100 && !made; ++i) std::this_thread::sleep_for(50ms);  // Wine starts slowly
  const bool window_made = made;
  const WaitResult while_open = WaitForAgentToEnd(kCaption, 100ms);
  const auto start = std::chrono::steady_clock::now();
  const WaitResult until_closed = WaitForAgentToEnd(kCaption, 10s);
  const auto waited = std::chrono::steady_clock::now() - start;
  holder.join();

  ASSERT_TRUE(window_made);
  EXPECT_EQ(while_open, WaitResult::kTimedOut);
  EXPECT_EQ(until_closed, WaitResult::kEnded);
  EXPECT_GE(waited, 200ms);
}

}  // namespace
}  // namespace mb::updater

#endif  // _WIN32
