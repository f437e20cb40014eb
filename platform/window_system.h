// The window system as the agent sees it: the hidden main window and its
// one timer, message boxes, "process pending messages", the desktop geometry
// that the progress window is placed by, and the progress window itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace mb::platform {

// What the progress window shows. The portable model (frmSplash) decides the
// content and geometry; a view only puts it on the screen. All measures are
// twips.
class SplashView {
 public:
  virtual ~SplashView() = default;
  virtual void Show() = 0;     // modeless; first call creates the window
  virtual void Refresh() = 0;  // repaint at once
  virtual void Unload() = 0;   // close and destroy
  virtual void Move(std::int32_t left, std::int32_t top) = 0;
  virtual void SetTopmost() = 0;                 // above other windows, no move or size
  virtual void SetPicture(int image_index) = 0;  // 1-based image of the list
  virtual void SetTitle(const std::string& text) = 0;
  virtual void SetStatus(const std::string& text) = 0;
  // Clears the progress surface and fills [0, filled_width) of it in `color`
  // (0x00BBGGRR), over its full height; the surface is `surface_width` wide.
  virtual void PaintBar(double filled_width, double surface_width, std::uint32_t color) = 0;
  // Extra detail for a text front end: file k of n and byte counts.
  virtual void SetTransfer(int file_index, int file_count, std::int64_t received,
                           std::int64_t expected) {
    (void)file_index;
    (void)file_count;
    (void)received;
    (void)expected;
  }
};

struct PixelRect {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // Start-up of the hidden main window (caption "Mailbeacon_Shell").
  virtual void HideMainWindow() = 0;
  virtual void LeaveTaskList() = 0;

  // The main window's one timer. Arming replaces an earlier arming.
  virtual void ArmTimer(int interval_ms) = 0;
  virtual void DisarmTimer() = 0;
  // Runs the message loop, calling on_timer when the timer elapses, until
  // on_timer raises ProcessEnd (which propagates) or no timer is armed.
  virtual void RunMessageLoop(const std::function<void()>& on_timer) = 0;
  // Lets the window system process all pending messages.
  virtual void PumpMessages() = 0;

  // Modal boxes: OK only and no icon; Yes/No returns true for Yes.
  virtual void MessageBoxOk(const std::string& text, const std::string& caption) = 0;
  // An information message: OK only, with the information icon.
  virtual void MessageBoxInformation(const std::string& text, const std::string& caption) = 0;
  virtual bool MessageBoxYesNo(const std::string& text, const std::string& caption) = 0;
  // Whether anyone can answer a question box. A desktop can; a POSIX agent
  // with no terminal to ask on cannot, and asks nothing.
  virtual bool CanAskUser() { return true; }

  // Desktop geometry. GetTaskbarRect returns false when the shell cannot
  // report the taskbar (the rectangle then stays zero).
  virtual bool GetTaskbarRect(PixelRect* rect) = 0;
  virtual std::int32_t ScreenWidthTwips() = 0;
  virtual std::int32_t ScreenHeightTwips() = 0;
  virtual double TwipsPerPixelX() = 0;
  virtual double TwipsPerPixelY() = 0;

  // The view of the progress window (one per process, made on first use).
  virtual std::unique_ptr<SplashView> CreateSplashView() = 0;
};

}  // namespace mb::platform
