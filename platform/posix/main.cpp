// The agent on a POSIX system: the portable agent over the POSIX backends,
// with a text front end on stderr. The exit status tells how it ended.
#include <unistd.h>

#include <cstdio>

#include "agent/frm_tray.h"
#include "platform/posix/codepage_iconv.h"
#include "platform/posix/filesystem_posix.h"
#include "platform/posix/network_curl.h"
#include "platform/posix/process_posix.h"
#include "platform/posix/profile_store_posix.h"
#include "platform/posix/registry_file.h"
#include "platform/posix/window_system_posix.h"

int main(int argc, char** argv) {
  using namespace mb;
  posix::IconvCodePage codepage(posix::SystemAnsiCodePage());
  posix::RegistryFile registry(posix::DefaultRegistryPath(), codepage);
  posix::PosixProfileStore profiles;
  posix::PosixFileSystem fs;
  posix::CurlNetwork net;
  posix::PosixProcess process(argc, argv);
  posix::PosixWindowSystem windows(stderr, isatty(STDERR_FILENO) != 0, stdin);

  platform::Platform p;
  p.registry = &registry;
  p.profiles = &profiles;
  p.fs = &fs;
  p.net = &net;
  p.codepage = &codepage;
  p.windows = &windows;
  p.process = &process;

  frmTray tray(p);
  try {
    tray.Form_Load();
  } catch (const ProcessEnd& end) {
    return end.status;
  }
  return tray.Run();
}
