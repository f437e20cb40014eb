// SwiftPatcher_Mailbeacon.exe on a POSIX system: the updater over the POSIX
// backends. The exit status tells how it ended (updater.h).
#include "platform/posix/posix_codepage.h"
#include "platform/posix/posix_filesystem.h"
#include "platform/posix/posix_process.h"
#include "platform/posix/posix_profile_store.h"
#include "updater/updater.h"
#include "updater/wait_for_agent.h"

#include <chrono>
#include <thread>

int main(int argc, char** argv) {
  using namespace mb;
  posix::IconvCodePage codepage(posix::SystemAnsiCodePage());
  posix::PosixProfileStore profiles;
  posix::PosixFileSystem fs;
  posix::PosixProcess process(argc, argv);

  platform::Platform p{
      .profiles = &profiles, .fs = &fs, .codepage = &codepage, .process = &process};
  updater::UpdaterOptions options;
  options.agent_program = "Mailbeacon";
  options.install.in_use_limit = updater::InUseWaitLimit();
  options.install.sleep = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
  return updater::Updater(p, options).Run();
}
