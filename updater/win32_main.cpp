// SwiftPatcher_Mailbeacon.exe on Windows: the updater over the Win32
// backends, without a window of its own. The exit code tells how it ended
// (updater.h).
#include "platform/win32/win32_codepage.h"
#include "platform/win32/win32_filesystem.h"
#include "platform/win32/win32_process.h"
#include "platform/win32/win32_profile.h"
#include "updater/updater.h"
#include "updater/wait_for_agent.h"

#include <chrono>
#include <thread>

int main() {
  using namespace mb;
  win32::Win32CodePage codepage;
  win32::Win32ProfileStore profiles;
  win32::Win32FileSystem fs;
  win32::Win32Process process;

  platform::Platform p{
      .profiles = &profiles, .fs = &fs, .codepage = &codepage, .process = &process};
  updater::UpdaterOptions options;
  options.agent_program = "Mailbeacon.exe";
  options.install.in_use_limit = updater::InUseWaitLimit();
  options.install.sleep = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
  return updater::Updater(p, options).Run();
}
