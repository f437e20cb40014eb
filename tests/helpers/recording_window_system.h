// The window system of the tests: it records what the agent asks of it (the
// message boxes, every arming of the timer, every call on the progress
// window, the status lines shown) and answers as the test sets it up (Yes/No
// answers, how many timer events the loop delivers, the desktop geometry,
// failures of the shell, the screen or the painting).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/window_system.h"

namespace mb::test {

class RecordingSplashView : public platform::SplashView {
 public:
  // Every call goes to `log` as one line; status texts also to `statuses`.
  RecordingSplashView(std::vector<std::string>& log, std::vector<std::string>& statuses)
      : log_(log), statuses_(statuses) {}
  void Show() override { log_.push_back("Show"); }
  void Refresh() override { log_.push_back("Refresh"); }
  void Unload() override { log_.push_back("Unload"); }
  void Move(std::int32_t left, std::int32_t top) override {
    log_.push_back("Move " + std::to_string(left) + " " + std::to_string(top));
  }
  void SetTopmost() override { log_.push_back("SetTopmost"); }
  void SetPicture(int i) override { log_.push_back("SetPicture " + std::to_string(i)); }
  void SetTitle(const std::string& t) override { log_.push_back("SetTitle " + t); }
  void SetStatus(const std::string& t) override {
    log_.push_back("SetStatus " + t);
    statuses_.push_back(t);
  }
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
  std::vector<std::string>& statuses_;
};

class RecordingWindowSystem : public platform::WindowSystem {
 public:
  // --- What the agent asked.
  struct Box {
    std::string text, caption;
    bool information = false;  // shown with the information icon
  };
  std::vector<Box> boxes;
  std::vector<int> armings;  // every interval the timer was armed with
  bool armed = false;
  std::vector<std::string> log;       // the progress window's calls, one line each
  std::vector<std::string> statuses;  // the status texts it showed
  RecordingSplashView* last_view = nullptr;
  int views_made = 0;

  // --- How it answers.
  std::deque<bool> yes_no_answers;  // answers in order; No when empty
  bool can_ask = true;              // false: nobody to answer a question
  int max_timer_events = 1;         // the loop stops after this many runs
  platform::PixelRect taskbar;
  bool taskbar_known = true;
  bool taskbar_throws = false;
  bool screen_throws = false;
  std::int32_t screen_width = 15360, screen_height = 11520;  // 1024 x 768 pixels
  double twips_per_pixel_x = 15, twips_per_pixel_y = 15;

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
    if (taskbar_throws) throw std::runtime_error("shell failed");
    if (taskbar_known) *rect = taskbar;
    return taskbar_known;
  }
  std::int32_t ScreenWidthTwips() override { return Screen(screen_width); }
  std::int32_t ScreenHeightTwips() override { return Screen(screen_height); }
  double TwipsPerPixelX() override { return twips_per_pixel_x; }
  double TwipsPerPixelY() override { return twips_per_pixel_y; }
  // A taskbar given in twips (multiples of 15 at 15 twips per pixel).
  void SetTaskbarTwips(std::int32_t top, std::int32_t left, std::int32_t bottom,
                       std::int32_t right) {
    taskbar = {left / 15, top / 15, right / 15, bottom / 15};
  }

  std::unique_ptr<platform::SplashView> CreateSplashView() override {
    ++views_made;
    log.push_back("CreateSplashView");
    auto view = std::make_unique<RecordingSplashView>(log, statuses);
    last_view = view.get();
    return view;
  }

 private:
  std::int32_t Screen(std::int32_t v) const {
    if (screen_throws) throw std::runtime_error("no screen");
    return v;
  }
};

}  // namespace mb::test
