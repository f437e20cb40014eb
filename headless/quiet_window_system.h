// A window system that shows nothing: no window, no message box (a question
// counts as No), a timer that never fires, the plausible desktop of the
// POSIX build. For tools that run the agent's operations without a user:
// benchmarks and fuzz targets. (The tests' window system records what it is
// asked: tests/helpers/recording_window_system.h.)
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/window_system.h"

namespace mb::headless {

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
  void MessageBoxInformation(const std::string&, const std::string&) override {}
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

}  // namespace mb::headless
