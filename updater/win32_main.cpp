// SwiftPatcher_Mailbeacon.exe on Windows: the updater over the Win32
// backends, without a window of its own. The exit code tells how it ended
// (updater.h).
#include "platform/win32/win32_codepage.h"
#include "platform/win32/win32_filesystem.h"
#include "platform/win32/win32_process.h"
#include "platform/win32/win32_profile.h"
#include "updater/updater.h"

int main() {
  using namespace mb;
  win32::Win32CodePage codepage;
  win32::Win32ProfileStore profiles;
  win32::Win32FileSystem fs;
  win32::Win32Process process;

  platform::Platform p{
      .profiles = &profiles, .fs = &fs, .codepage = &codepage, .process = &process};
  return updater::Updater(p).Run();
}
