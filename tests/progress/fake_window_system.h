// A recording window system and progress-window view for the progress
// tests: the desktop geometry is set by the test, every view call is
// written to a shared log as one line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/desktop.h"
#include "platform/quiet_window_system.h"

namespace mb::test::progress {

class RecordingSplashView : public platform::SplashView {
 public:
  explicit RecordingSplashView(std::vector<std::string>& log) : log_(log) {}
  void Show() override { log_.push_back("Show"); }
  void Refresh() override { log_.push_back("Refresh"); }
  void Unload() override { log_.push_back("Unload"); }
  void Move(std::int32_t left, std::int32_t top) override {
    log_.push_back("Move " + std::to_string(left) + " " + std::to_string(top));
  }
  void SetTopmost() override { log_.push_back("SetTopmost"); }
  void SetPicture(int i) override { log_.push_back("SetPicture " + std::to_string(i)); }
  void SetTitle(const std::string& t) override { log_.push_back("SetTitle " + t); }
  void SetStatus(const std::string& t) override { log_.push_back("SetStatus " + t); }
  void PaintBar(double filled, double surface, std::uint32_t color) override {
    if (fail_paint) throw std::runtime_error("paint failed");
    bars.push_back({filled, surface, color});
    log_.push_back("PaintBar");
  }
  void SetTransfer(int k, int n, std::int64_t received, std::int64_t expected) override {
    log_.push_back("SetTransfer " + std::to_string(k) + "/" + std::to_string(n) + " " +
                   std::to_string(received) + "/" + std::to_string(expected));
  }

  struct Bar {
    double filled, surface;
    std::uint32_t color;
  };
  std::vector<Bar> bars;
  bool fail_paint = false;

 private:
  std::vector<std::string>& log_;
};

class FakeWindowSystem : public platform::QuietWindowSystem {
 public:
  // Desktop geometry the placement reads.
  platform::PixelRect taskbar;
  bool taskbar_known = true;
  bool taskbar_throws = false;
  bool screen_throws = false;
  std::int32_t screen_width = 15360, screen_height = 11520;
  double twips_per_pixel_x = 15, twips_per_pixel_y = 15;

  std::vector<std::string> log;
  RecordingSplashView* last_view = nullptr;
  int views_made = 0;

  bool GetTaskbarRect(platform::PixelRect* rect) override {
    if (taskbar_throws) throw std::runtime_error("shell failed");
    if (taskbar_known) *rect = taskbar;
    return taskbar_known;
  }
  std::int32_t ScreenWidthTwips() override { return Screen(screen_width); }
  std::int32_t ScreenHeightTwips() override { return Screen(screen_height); }
  double TwipsPerPixelX() override { return twips_per_pixel_x; }
  double TwipsPerPixelY() override { return twips_per_pixel_y; }

  std::unique_ptr<platform::SplashView> CreateSplashView() override {
    ++views_made;
    log.push_back("CreateSplashView");
    auto view = std::make_unique<RecordingSplashView>(log);
    last_view = view.get();
    return view;
  }

  // A taskbar given in twips (multiples of 15 at 15 twips per pixel).
  void SetTaskbarTwips(std::int32_t top, std::int32_t left, std::int32_t bottom,
                       std::int32_t right) {
    taskbar = {left / 15, top / 15, right / 15, bottom / 15};
  }

 private:
  std::int32_t Screen(std::int32_t v) const {
    if (screen_throws) throw std::runtime_error("no screen");
    return v;
  }
};

}  // namespace mb::test::progress
