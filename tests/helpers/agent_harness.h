// An agent object over the real POSIX backends in a temporary install
// directory, with fakes only for what a test cannot do for real: answer
// message boxes, observe the timer and the hand-off, pretend to be offline.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "agent/frm_tray.h"
#include "helpers/recording_window_system.h"
#include "helpers/temp_dir.h"
#include "platform/posix/posix_codepage.h"
#include "platform/posix/posix_filesystem.h"
#include "platform/posix/posix_instance_lock.h"
#include "platform/posix/posix_network.h"
#include "platform/posix/posix_profile_store.h"
#include "platform/posix/posix_registry_file.h"
#include "platform/posix/posix_signature.h"

namespace mb::test {

class HarnessProcess : public platform::Process {
 public:
  struct Start {
    std::string file, params, dir;
  };
  std::string install_dir, arguments, system_dir;
  platform::LocalTime now{2006, 6, 1, 14, 5, 9};
  std::optional<std::int64_t> utc_now;  // the real clock unless set
  std::vector<Start> starts;
  // The random numbers handed out, in order (0 once they are used up), and
  // how many were asked for.
  std::deque<std::uint32_t> random_numbers;
  int random_draws = 0;

  std::string InstallDir() override { return install_dir; }
  std::string Arguments() override { return arguments; }
  std::string SystemDir() override { return system_dir; }
  platform::LocalTime Now() override { return now; }
  std::uint32_t RandomNumber() override {
    ++random_draws;
    if (random_numbers.empty()) return 0;
    const std::uint32_t n = random_numbers.front();
    random_numbers.pop_front();
    return n;
  }
  std::int64_t UtcNow() override { return utc_now ? *utc_now : platform::Process::UtcNow(); }
  void ShellOpen(const std::string& file, const std::string& params,
                 const std::string& dir) override {
    starts.push_back({file, params, dir});
  }
  // The real lock of the POSIX build, so a test can hold it as another
  // agent would.
  std::unique_ptr<platform::InstanceLock> TryLockInstance(const std::string& dir) override {
    return posix::TryLockInstanceDir(dir);
  }
};

// The real network, with a switch to report the machine offline.
class SwitchableNetwork : public posix::CurlNetwork {
 public:
  bool online = true;
  bool IsConnected() override { return online; }
};

constexpr const char* kProductKey = "HKEY_CURRENT_USER\\SOFTWARE\\BrightHarbor\\MailbeaconCom";

struct AgentHarness {
  TempDir dir;
  std::string install;  // the install directory (POSIX path)
  std::string update;   // install + "/update"
  std::string registry_path;
  posix::IconvCodePage codepage{949};
  std::unique_ptr<posix::RegistryFile> registry;
  posix::PosixProfileStore profiles;
  posix::PosixFileSystem fs;
  SwitchableNetwork net;
  RecordingWindowSystem windows;
  HarnessProcess process;
  posix::OpenSslCrypto crypto;
  platform::Platform p{.profiles = &profiles,  // the registry is set once its file is named
                       .fs = &fs,
                       .net = &net,
                       .codepage = &codepage,
                       .windows = &windows,
                       .process = &process,
                       .crypto = &crypto};
  std::unique_ptr<frmTray> tray;

  AgentHarness();
  // Writes the registry file: the product key with the given value lines
  // (e.g. "\"URL\"=\"http://...\""), plus any further raw sections.
  void SetRegistry(const std::vector<std::string>& product_values,
                   const std::string& extra_sections = "");
  // Points the agent at a server, English messages, the given install type.
  void UseServer(const std::string& url, const std::string& vdir = "",
                 const std::string& install_type = "express");
  // Runs Form_Load and the message loop; returns the exit status, or -1
  // when the loop stopped without the process ending.
  int RunAgent(int max_timer_events = 1);
  std::string UpdatePath(const std::string& name) const { return update + "/" + name; }
};

}  // namespace mb::test
