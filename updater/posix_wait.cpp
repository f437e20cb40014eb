// POSIX has no window to look for: the agent starts the updater as its
// child and ends at once, so the agent has ended when the updater's parent
// changes. The agent may already be gone when we first look (we were handed
// to a reaper), so a parent that is not the agent program counts as ended.
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

#include "updater/wait_for_agent.h"

namespace mb::updater {
namespace {

// The agent's process name as the kernel keeps it; true when it cannot be
// read (no /proc), leaving the decision to the parent's change.
bool LooksLikeAgent(pid_t pid) {
  if (pid <= 1) return false;
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  if (!comm || !std::getline(comm, name)) return true;
  return name == "Mailbeacon" || name == "Mailbeacon.exe";
}

}  // namespace

WaitResult WaitForAgentToEnd(const std::string& /*caption*/, std::chrono::milliseconds limit) {
  const pid_t agent = ::getppid();
  if (!LooksLikeAgent(agent)) return WaitResult::kEnded;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (::getppid() == agent) {
    if (std::chrono::steady_clock::now() >= deadline) return WaitResult::kTimedOut;
    std::this_thread::sleep_for(kAgentPollInterval);
  }
  return WaitResult::kEnded;
}

}  // namespace mb::updater
