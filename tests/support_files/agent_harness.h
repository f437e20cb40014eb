// An agent object over the real POSIX backends in a temporary install
// directory, with fakes only for what a test cannot do for real: answer
// message boxes, observe the timer and the hand-off, pretend to be offline.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "agent/frm_tray.h"
#include "platform/posix/codepage_iconv.h"
#include "platform/posix/filesystem_posix.h"
#include "platform/posix/network_curl.h"
#include "platform/posix/profile_store_posix.h"
#include "platform/posix/registry_file.h"
#include "support_files/temp_dir.h"

namespace mb::test {

class HarnessSplashView : public platform::SplashView {
 public:
  explicit HarnessSplashView(std::vector<std::string>* statuses) : statuses_(statuses) {}
  void Show() override {}
  void Refresh() override {}
  void Unload() override {}
  void Move(std::int32_t, std::int32_t) override {}
  void SetTopmost() override {}
  void SetPicture(int) override {}
  void SetTitle(const std::string&) override {}
  void SetStatus(const std::string& text) override { statuses_->push_back(text); }
  void PaintBar(double, double, std::uint32_t) override {}

 private:
  std::vector<std::string>* statuses_;
};

class HarnessWindowSystem : public platform::WindowSystem {
 public:
  struct Box {
    std::string text, caption;
    bool information = false;  // shown with the information icon
  };
  std::vector<Box> boxes;
  std::deque<bool> yes_no_answers;  // answers in order; No when empty
  std::vector<std::string> statuses;
  std::vector<int> armings;  // every interval the timer was armed with
  bool armed = false;
  int max_timer_events = 1;  // the loop stops after this many runs
  bool can_ask = true;       // false: nobody to answer a question

  void HideMainWindow() override {}
  void LeaveTaskList() override {}
  void ArmTimer(int interval_ms) override {
    armed = true;
    armings.push_back(interval_ms);
  }
  void DisarmTimer() override { armed = false; }
  void RunMessageLoop(const std::function<void()>& on_timer) override {
    for (int i = 0; armed && i < max_timer_events; ++i) on_timer();
  }
  void PumpMessages() override {}
  void MessageBoxOk(const std::string& text, const std::string& caption) override {
    boxes.push_back({text, caption});
  }
  void MessageBoxInformation(const std::string& text, const std::string& caption) override {
    boxes.push_back({text, caption, true});
  }
  bool CanAskUser() override { return can_ask; }
  bool MessageBoxYesNo(const std::string& text, const std::string& caption) override {
    boxes.push_back({text, caption});
    if (yes_no_answers.empty()) return false;
    const bool yes = yes_no_answers.front();
    yes_no_answers.pop_front();
    return yes;
  }
  bool GetTaskbarRect(platform::PixelRect* rect) override {
    *rect = {0, 1040, 1920, 1080};
    return true;
  }
  std::int32_t ScreenWidthTwips() override { return 28800; }
  std::int32_t ScreenHeightTwips() override { return 16200; }
  double TwipsPerPixelX() override { return 15; }
  double TwipsPerPixelY() override { return 15; }
  std::unique_ptr<platform::SplashView> CreateSplashView() override {
    return std::make_unique<HarnessSplashView>(&statuses);
  }
};

class HarnessProcess : public platform::Process {
 public:
  struct Start {
    std::string file, params, dir;
  };
  std::string install_dir, arguments, system_dir;
  platform::LocalTime now{2006, 6, 1, 14, 5, 9};
  std::vector<Start> starts;

  std::string InstallDir() override { return install_dir; }
  std::string Arguments() override { return arguments; }
  std::string SystemDir() override { return system_dir; }
  platform::LocalTime Now() override { return now; }
  void ShellOpen(const std::string& file, const std::string& params,
                 const std::string& dir) override {
    starts.push_back({file, params, dir});
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
  HarnessWindowSystem windows;
  HarnessProcess process;
  platform::Platform p{.profiles = &profiles,  // the registry is set once its file is named
                       .fs = &fs,
                       .net = &net,
                       .codepage = &codepage,
                       .windows = &windows,
                       .process = &process};
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
