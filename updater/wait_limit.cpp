#include <cstdlib>
#include <string>

#include "updater/wait_for_agent.h"

namespace mb::updater {
namespace {

// $name when it holds a number of milliseconds (at most ten minutes), else
// the default.
std::chrono::milliseconds LimitFromEnvironment(const char* name, long default_ms) {
  constexpr long kMaxMs = 600'000;
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return std::chrono::milliseconds(default_ms);
  char* end = nullptr;
  const long ms = std::strtol(text, &end, 10);
  if (*end != '\0' || ms < 0) return std::chrono::milliseconds(default_ms);
  return std::chrono::milliseconds(ms < kMaxMs ? ms : kMaxMs);
}

}  // namespace

std::chrono::milliseconds AgentWaitLimit() {
  return LimitFromEnvironment("MAILBEACON_UPDATER_WAIT_MS", 30'000);
}

std::chrono::milliseconds InUseWaitLimit() {
  return LimitFromEnvironment("MAILBEACON_UPDATER_IN_USE_MS", 60'000);
}

}  // namespace mb::updater
