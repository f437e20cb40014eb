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

namespace mb::bench {

class QuietSplashView : public platform::SplashView {
 public:
  void Show() override {}
  void Refresh() override {}
  void Unload() override {}
  void Move(std::int32_t, std::int32_t) override {}
  void SetTopmost() override {}
  void SetPicture(int) override {}
  void SetTitle(const std::string&) override {}
  void SetStatus(const std::string&) override {}
  void PaintBar(double, double, std::uint32_t) override {}
};

class QuietWindowSystem : public platform::WindowSystem {
 public:
  void HideMainWindow() override {}
  void LeaveTaskList() override {}
  void ArmTimer(int) override {}
  void DisarmTimer() override {}
  void RunMessageLoop(const std::function<void()>&) override {}
  void PumpMessages() override {}
  void MessageBoxOk(const std::string&, const std::string&) override {}
  bool MessageBoxYesNo(const std::string&, const std::string&) override { return false; }
  bool GetTaskbarRect(platform::PixelRect* rect) override {
    *rect = {0, 1040, 1920, 1080};
    return true;
  }
  std::int32_t ScreenWidthTwips() override { return 28800; }
  std::int32_t ScreenHeightTwips() override { return 16200; }
  double TwipsPerPixelX() override { return 15; }
  double TwipsPerPixelY() override { return 15; }
  std::unique_ptr<platform::SplashView> CreateSplashView() override {
    return std::make_unique<QuietSplashView>();
  }
};

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
  explicit BenchPlatform(const std::string& install_dir) : codepage(949), process(install_dir) {
    p.profiles = &profiles;
    p.fs = &fs;
    p.net = &net;
    p.codepage = &codepage;
    p.windows = &windows;
    p.process = &process;
  }
  BenchPlatform(const BenchPlatform&) = delete;
  BenchPlatform& operator=(const BenchPlatform&) = delete;

  posix::IconvCodePage codepage;
  posix::PosixProfileStore profiles;
  posix::PosixFileSystem fs;
  posix::CurlNetwork net;
  QuietWindowSystem windows;
  FixedProcess process;
  platform::Platform p;
};

}  // namespace mb::bench
