// Mailbeacon.exe: the portable agent over the Win32 backends. A GUI program
// without a visible main window; the exit code tells how it ended.
#include <cstdio>
#include <exception>

#include "agent/frm_tray.h"
#include "platform/win32/win32_codepage.h"
#include "platform/win32/win32_filesystem.h"
#include "platform/win32/win32_network.h"
#include "platform/win32/win32_process.h"
#include "platform/win32/win32_profile.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_signature.h"
#include "platform/win32/win32_window_system.h"

namespace {

int RunAgent(HINSTANCE instance) {
  using namespace mb;
  win32::Win32CodePage codepage;
  win32::Win32Registry registry;
  win32::Win32ProfileStore profiles;
  win32::Win32FileSystem fs;
  win32::Win32Network net;
  win32::Win32WindowSystem windows(instance);
  win32::Win32Process process([&windows]() -> void* { return windows.MainWindow(); });
  win32::CngCrypto crypto;

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

}  // namespace

// A failure that nothing above handled (the window system cannot be made,
// say) ends the agent with the error status instead of an abort.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  try {
    return RunAgent(instance);
  } catch (const std::exception& e) {
    // Seen under Wine, which passes stderr on; a Windows GUI program has none.
    std::fprintf(stderr, "Mailbeacon: %s\n", e.what());
    return mb::kExitError;
  }
}
