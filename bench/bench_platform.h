// The agent's real POSIX backends for benchmarks and the bench tools, with a
// window system and a process that do nothing: nothing on screen, no
// hand-off, so only the agent's own work is measured.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "agent/frm_tray.h"
#include "platform/posix/codepage_iconv.h"
#include "platform/posix/filesystem_posix.h"
#include "platform/posix/network_curl.h"
#include "platform/posix/profile_store_posix.h"
#include "platform/quiet_window_system.h"

namespace mb::bench {

using QuietWindowSystem = platform::QuietWindowSystem;

class FixedProcess : public platform::Process {
 public:
  explicit FixedProcess(std::string install_dir) : install_dir_(std::move(install_dir)) {}
  std::string InstallDir() override { return install_dir_; }
  std::string Arguments() override { return ""; }
  std::string SystemDir() override { return install_dir_ + "\\system32"; }
  platform::LocalTime Now() override { return {2006, 6, 1, 14, 5, 9}; }
  void ShellOpen(const std::string&, const std::string&, const std::string&) override {}

 private:
  std::string install_dir_;
};

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
  QuietWindowSystem windows;
  FixedProcess process;
  platform::Platform p{.profiles = &profiles,
                       .fs = &fs,
                       .net = &net,
                       .codepage = &codepage,
                       .windows = &windows,
                       .process = &process};
};

}  // namespace mb::bench
