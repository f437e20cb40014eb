#include <cstdlib>
#include <string>

#include "updater/wait_for_agent.h"

namespace mb::updater {

std::chrono::milliseconds AgentWaitLimit() {
  constexpr long kDefaultMs = 30'000;
  constexpr long kMaxMs = 600'000;
  const char* text = std::getenv("MAILBEACON_UPDATER_WAIT_MS");
  if (text == nullptr || *text == '\0') return std::chrono::milliseconds(kDefaultMs);
  char* end = nullptr;
  const long ms = std::strtol(text, &end, 10);
  if (*end != '\0' || ms < 0) return std::chrono::milliseconds(kDefaultMs);
  return std::chrono::milliseconds(ms < kMaxMs ? ms : kMaxMs);
}

}  // namespace mb::updater
