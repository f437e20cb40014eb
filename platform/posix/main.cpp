// The agent on a POSIX system: the portable agent over the POSIX backends,
// with a text front end on stderr. The exit status tells how it ended.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "agent/frm_tray.h"
#include "platform/posix/codepage_iconv.h"
#include "platform/posix/filesystem_posix.h"
#include "platform/posix/network_curl.h"
#include "platform/posix/process_posix.h"
#include "platform/posix/profile_store_posix.h"
#include "platform/posix/registry_file.h"
#include "platform/posix/run_failure_line.h"
#include "platform/posix/window_system_posix.h"

int main(int argc, char** argv) {
  using namespace mb;
  posix::IconvCodePage codepage(posix::SystemAnsiCodePage());
  posix::RegistryFile registry(posix::DefaultRegistryPath(), codepage);
  posix::PosixProfileStore profiles;
  posix::PosixFileSystem fs;
  posix::CurlNetwork net;
  posix::PosixProcess process(argc, argv);
  // Boxes wait for an answer only when someone can give one at a terminal.
  std::FILE* answers = isatty(STDIN_FILENO) != 0 ? stdin : std::fopen("/dev/null", "r");
  posix::PosixWindowSystem windows(stderr, isatty(STDERR_FILENO) != 0, answers != nullptr ? answers : stdin);

  if (const char* runs = std::getenv("MAILBEACON_MAX_RUNS")) windows.SetTimerEventLimit(std::atoi(runs));
  windows.SetAfterTimerEvent(
      [&net] { posix::PrintRunFailure(net, stderr, isatty(STDERR_FILENO) != 0); });

  platform::Platform p{.registry = &registry,
                       .profiles = &profiles,
                       .fs = &fs,
                       .net = &net,
                       .codepage = &codepage,
                       .windows = &windows,
                       .process = &process};

  frmTray tray(p);
  return tray.Start();
}
