// The window system of the POSIX build: the main window's timer as a plain
// sleep, message boxes on stderr answered from a terminal, a fixed desktop
// and the terminal progress view.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "platform/window_system.h"

namespace mb::posix {

class PosixWindowSystem : public platform::WindowSystem {
 public:
  // Boxes print to `err`; on a terminal (`is_tty`) they wait for an answer
  // read from `in`.
  PosixWindowSystem(std::FILE* err, bool is_tty, std::FILE* in);

  void HideMainWindow() override;
  void LeaveTaskList() override;

  void ArmTimer(int interval_ms) override;
  void DisarmTimer() override;
  void RunMessageLoop(const std::function<void()>& on_timer) override;
  void PumpMessages() override;

  void MessageBoxOk(const std::string& text, const std::string& caption) override;
  void MessageBoxInformation(const std::string& text, const std::string& caption) override;
  bool MessageBoxYesNo(const std::string& text, const std::string& caption) override;
  // Only on a terminal whose input can bring the answer.
  bool CanAskUser() override { return is_tty_ && answers_possible_; }
  // Tells the boxes that their input holds no answers (it is no terminal).
  void SetNoAnswers() { answers_possible_ = false; }

  bool GetTaskbarRect(platform::PixelRect* rect) override;
  std::int32_t ScreenWidthTwips() override;
  std::int32_t ScreenHeightTwips() override;
  double TwipsPerPixelX() override;
  double TwipsPerPixelY() override;

  std::unique_ptr<platform::SplashView> CreateSplashView() override;

  // Stops the message loop after this many timer events (0: no limit), so a
  // script can let the agent make a bounded number of runs.
  void SetTimerEventLimit(int limit) { timer_event_limit_ = limit; }
  // Called after each timer event (each run), also one that ends the process.
  void SetAfterTimerEvent(std::function<void()> hook) { after_timer_event_ = std::move(hook); }

 private:
  using Clock = std::chrono::steady_clock;

  void PrintBox(const std::string& text, const std::string& caption, const char* prompt);
  // One line from `in` without its line break; nothing at the end of input.
  std::optional<std::string> ReadAnswer();

  std::FILE* err_;
  bool is_tty_;
  std::FILE* in_;
  std::optional<Clock::time_point> timer_due_;  // armed when set
  int timer_event_limit_ = 0;
  std::function<void()> after_timer_event_;
  bool answers_possible_ = true;
};

}  // namespace mb::posix
