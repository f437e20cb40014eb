// The agent on a POSIX system: the portable agent over the POSIX backends,
// with a text front end on stderr. The exit status tells how it ended.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "agent/frm_tray.h"
#include "platform/posix/posix_codepage.h"
#include "platform/posix/posix_command_line.h"
#include "platform/posix/posix_filesystem.h"
#include "platform/posix/posix_network.h"
#include "platform/posix/posix_process.h"
#include "platform/posix/posix_profile_store.h"
#include "platform/posix/posix_registry_file.h"
#include "platform/posix/posix_run_failure_line.h"
#include "platform/posix/posix_signature.h"
#include "platform/posix/posix_window_system.h"

namespace {

// The command line and MAILBEACON_MAX_RUNS, checked before anything runs.
// Returns the exit status to end with, or nothing to go on.
std::optional<int> RefusedStart(int argc, char** argv, std::optional<int>& max_runs) {
  using namespace mb::posix;
  const CommandLineCheck check = CheckCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (check.help) {
    std::fputs(Usage("Mailbeacon").c_str(), stdout);
    return kExitUsage;
  }
  std::string error = check.error;
  if (error.empty()) max_runs = ParseMaxRuns(std::getenv("MAILBEACON_MAX_RUNS"), &error);
  if (error.empty()) return std::nullopt;
  std::fprintf(stderr, "Mailbeacon: %s\n%s", error.c_str(),
               check.error.empty() ? "" : Usage("Mailbeacon").c_str());
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace mb;
  std::optional<int> max_runs;
  if (const std::optional<int> status = RefusedStart(argc, argv, max_runs)) return *status;
  posix::IconvCodePage codepage(posix::SystemAnsiCodePage());
  posix::RegistryFile registry(posix::DefaultRegistryPath(), codepage);
  posix::PosixProfileStore profiles;
  posix::PosixFileSystem fs;
  posix::CurlNetwork net;
  posix::PosixProcess process(argc, argv);
  posix::OpenSslCrypto crypto;
  // Boxes wait for an answer only when someone can give one at a terminal.
  const bool answers_at_terminal = isatty(STDIN_FILENO) != 0;
  std::FILE* answers = answers_at_terminal ? stdin : std::fopen("/dev/null", "r");
  posix::PosixWindowSystem windows(stderr, isatty(STDERR_FILENO) != 0,
                                   answers != nullptr ? answers : stdin);
  if (!answers_at_terminal) windows.SetNoAnswers();

  if (max_runs) windows.SetTimerEventLimit(*max_runs);
  windows.SetAfterTimerEvent(
      [&net] { posix::PrintRunFailure(net, stderr, isatty(STDERR_FILENO) != 0); });

  platform::Platform p{.registry = &registry,
                       .profiles = &profiles,
                       .fs = &fs,
                       .net = &net,
                       .codepage = &codepage,
                       .windows = &windows,
                       .process = &process,
                       .crypto = &crypto};

  frmTray tray(p);
  return tray.Start();
}
