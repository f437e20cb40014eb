#include "platform/posix/posix_run_failure_line.h"

#include <string>

namespace mb::posix {

void PrintRunFailure(CurlNetwork& net, std::FILE* err, bool is_tty) {
  for (const TransferFailure& problem : net.TakeProblems()) {
    const std::string line = std::string(is_tty ? "\n" : "") + "Mailbeacon: " + problem.url + ": " +
                             problem.reason + "\n";
    std::fputs(line.c_str(), err);
  }
  const std::optional<TransferFailure> failure = net.TakeFailure();
  if (!failure) return;
  const std::string line = std::string(is_tty ? "\n" : "") +
                           "Mailbeacon: " + (failure->refused ? "refused " : "cannot fetch ") +
                           failure->url + ": " + failure->reason + "\n";
  std::fputs(line.c_str(), err);
  std::fflush(err);
}

}  // namespace mb::posix
