// The agent's real POSIX backends for benchmarks and the bench tools, with a
// window system and a process that do nothing: nothing on screen, no
// hand-off, so only the agent's own work is measured.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "agent/frm_tray.h"
#include "headless/fixed_process.h"
#include "headless/quiet_window_system.h"
#include "platform/posix/posix_codepage.h"
#include "platform/posix/posix_filesystem.h"
#include "platform/posix/posix_network.h"
#include "platform/posix/posix_profile_store.h"
#include "platform/posix/posix_signature.h"

namespace mb::bench {

// Every backend the agent touches, over one install directory. The
// registry stays unset: the measured operations never read it.
struct BenchPlatform {
  explicit BenchPlatform(const std::string& install_dir) : codepage(949), process(install_dir) {}
  BenchPlatform(const BenchPlatform&) = delete;
  BenchPlatform& operator=(const BenchPlatform&) = delete;

  posix::IconvCodePage codepage;
  posix::PosixProfileStore profiles;
  posix::PosixFileSystem fs;
  posix::CurlNetwork net;
  headless::QuietWindowSystem windows;
  headless::FixedProcess process;
  posix::OpenSslCrypto crypto;
  platform::Platform p{.profiles = &profiles,
                       .fs = &fs,
                       .net = &net,
                       .codepage = &codepage,
                       .windows = &windows,
                       .process = &process,
                       .crypto = &crypto};
};

}  // namespace mb::bench
