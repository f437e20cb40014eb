#include "platform/win32/win32_window_system.h"

#include <shellapi.h>

#include <cmath>

#include "platform/win32/win32_splash_view.h"
#include "platform/win32/win32_text.h"

namespace mb::win32 {
namespace {

constexpr UINT_PTR kTimerId = 1;
constexpr const wchar_t* kMainClass = L"Mailbeacon_ShellWindow";

void RegisterMainClass(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.lpszClassName = kMainClass;
  // A second window system in one process (tests) finds the class there.
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) throw LastError();
}

int DevicePixelsPerInch(int axis) {
  HDC dc = GetDC(nullptr);
  const int dpi = dc != nullptr ? GetDeviceCaps(dc, axis) : 0;
  if (dc != nullptr) ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}

std::int32_t ToTwips(int pixels, double twips_per_pixel) {
  return static_cast<std::int32_t>(std::lround(pixels * twips_per_pixel));
}

}  // namespace

Win32WindowSystem::Win32WindowSystem(HINSTANCE instance) : instance_(instance) {
  RegisterMainClass(instance_);
  // A real top-level window (not message-only), so that the updater can
  // find it by its caption; it is never shown and kept off the taskbar.
  main_ = CreateWindowExW(WS_EX_TOOLWINDOW, kMainClass, kMainCaption, WS_POPUP, 0, 0, 0, 0, nullptr,
                          nullptr, instance_, nullptr);
  if (main_ == nullptr) throw LastError("create the agent's main window");
}

Win32WindowSystem::~Win32WindowSystem() {
  if (armed_) KillTimer(main_, kTimerId);
  DestroyWindow(main_);
}

void Win32WindowSystem::HideMainWindow() { ShowWindow(main_, SW_HIDE); }

void Win32WindowSystem::LeaveTaskList() {
  LONG_PTR ex = GetWindowLongPtrW(main_, GWL_EXSTYLE);
  ex = (ex | WS_EX_TOOLWINDOW) & ~static_cast<LONG_PTR>(WS_EX_APPWINDOW);
  SetWindowLongPtrW(main_, GWL_EXSTYLE, ex);
}

void Win32WindowSystem::ArmTimer(int interval_ms) {
  const UINT ms = interval_ms > 0 ? static_cast<UINT>(interval_ms) : USER_TIMER_MINIMUM;
  if (SetTimer(main_, kTimerId, ms, nullptr) == 0) throw LastError();
  armed_ = true;
}

void Win32WindowSystem::DisarmTimer() {
  if (armed_) KillTimer(main_, kTimerId);
  armed_ = false;
}

bool Win32WindowSystem::IsOurTimer(const MSG& msg) const {
  return msg.message == WM_TIMER && msg.hwnd == main_ && msg.wParam == kTimerId;
}

// The timer message is handled here rather than dispatched to a window
// procedure: the handler may raise ProcessEnd, which must not unwind
// through the system's frames. A Windows timer repeats; the agent's fires
// once per arming, so it is stopped before the handler runs.
void Win32WindowSystem::RunMessageLoop(const std::function<void()>& on_timer) {
  MSG msg;
  while (armed_) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) return;
    if (IsOurTimer(msg)) {
      if (!armed_) continue;
      DisarmTimer();
      on_timer();
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void Win32WindowSystem::PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // for the main loop
      return;
    }
    if (IsOurTimer(msg)) continue;  // the loop's business; re-sent while armed
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void Win32WindowSystem::MessageBoxOk(const std::string& text, const std::string& caption) {
  MessageBoxW(nullptr, Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(), MB_OK);
}

void Win32WindowSystem::MessageBoxInformation(const std::string& text, const std::string& caption) {
  MessageBoxW(nullptr, Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(),
              MB_OK | MB_ICONINFORMATION);
}

bool Win32WindowSystem::MessageBoxYesNo(const std::string& text, const std::string& caption) {
  return MessageBoxW(nullptr, Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(), MB_YESNO) ==
         IDYES;
}

bool Win32WindowSystem::GetTaskbarRect(platform::PixelRect* rect) {
  APPBARDATA abd{};
  abd.cbSize = sizeof abd;
  if (SHAppBarMessage(ABM_GETTASKBARPOS, &abd) == 0) return false;
  rect->left = abd.rc.left;
  rect->top = abd.rc.top;
  rect->right = abd.rc.right;
  rect->bottom = abd.rc.bottom;
  return true;
}

std::int32_t Win32WindowSystem::ScreenWidthTwips() {
  return ToTwips(GetSystemMetrics(SM_CXSCREEN), TwipsPerPixelX());
}

std::int32_t Win32WindowSystem::ScreenHeightTwips() {
  return ToTwips(GetSystemMetrics(SM_CYSCREEN), TwipsPerPixelY());
}

double Win32WindowSystem::TwipsPerPixelX() { return 1440.0 / DevicePixelsPerInch(LOGPIXELSX); }

double Win32WindowSystem::TwipsPerPixelY() { return 1440.0 / DevicePixelsPerInch(LOGPIXELSY); }

std::unique_ptr<platform::SplashView> Win32WindowSystem::CreateSplashView() {
  return std::make_unique<Win32SplashView>(instance_, TwipsPerPixelX(), TwipsPerPixelY());
}

}  // namespace mb::win32
