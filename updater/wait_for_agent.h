// Waiting for the agent to end before its files are replaced. How "the
// agent has ended" is seen is the OS's part (posix_wait.cpp, win32_wait.cpp).
#pragma once

#include <chrono>
#include <string>

namespace mb::updater {

enum class WaitResult { kEnded, kTimedOut };

// Polls every 50 ms until the agent whose main window has `caption` has
// ended, at most `limit`.
WaitResult WaitForAgentToEnd(const std::string& caption, std::chrono::milliseconds limit);

// How long the updater waits for the agent to end (and then for the
// install's lock): $MAILBEACON_UPDATER_WAIT_MS when it holds a number (at
// most ten minutes), else 30 seconds.
std::chrono::milliseconds AgentWaitLimit();
// How long it waits for a file that another program holds to come free:
// $MAILBEACON_UPDATER_IN_USE_MS, else a minute.
std::chrono::milliseconds InUseWaitLimit();

inline constexpr std::chrono::milliseconds kAgentPollInterval{50};

}  // namespace mb::updater
