// On Windows the agent is its hidden main window: it has ended when no
// top-level window with its caption is left (FindWindow also sees hidden
// windows).
#include <thread>

#include "platform/win32/win32_windows.h"
#include "updater/wait_for_agent.h"

namespace mb::updater {

WaitResult WaitForAgentToEnd(const std::string& caption, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (FindWindowA(nullptr, caption.c_str()) != nullptr) {
    if (std::chrono::steady_clock::now() >= deadline) return WaitResult::kTimedOut;
    std::this_thread::sleep_for(kAgentPollInterval);
  }
  return WaitResult::kEnded;
}

}  // namespace mb::updater
