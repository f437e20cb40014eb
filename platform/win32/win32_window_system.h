// The window system on Windows: the hidden main window "Mailbeacon_Shell"
// with its one timer and message loop, message boxes, the desktop geometry
// and the real progress window.
#pragma once

#include "platform/win32/win32_windows.h"
#include "platform/window_system.h"

namespace mb::win32 {

inline constexpr const wchar_t* kMainCaption = L"Mailbeacon_Shell";

class Win32WindowSystem : public platform::WindowSystem {
 public:
  explicit Win32WindowSystem(HINSTANCE instance);
  ~Win32WindowSystem() override;
  Win32WindowSystem(const Win32WindowSystem&) = delete;
  Win32WindowSystem& operator=(const Win32WindowSystem&) = delete;

  HWND MainWindow() const { return main_; }
  bool TimerArmed() const { return armed_; }

  void HideMainWindow() override;
  void LeaveTaskList() override;
  void ArmTimer(int interval_ms) override;
  void DisarmTimer() override;
  void RunMessageLoop(const std::function<void()>& on_timer) override;
  void PumpMessages() override;
  void MessageBoxOk(const std::string& text, const std::string& caption) override;
  void MessageBoxInformation(const std::string& text, const std::string& caption) override;
  bool MessageBoxYesNo(const std::string& text, const std::string& caption) override;
  bool GetTaskbarRect(platform::PixelRect* rect) override;
  std::int32_t ScreenWidthTwips() override;
  std::int32_t ScreenHeightTwips() override;
  double TwipsPerPixelX() override;
  double TwipsPerPixelY() override;
  std::unique_ptr<platform::SplashView> CreateSplashView() override;

 private:
  bool IsOurTimer(const MSG& msg) const;

  HINSTANCE instance_;
  HWND main_ = nullptr;
  bool armed_ = false;
};

}  // namespace mb::win32
