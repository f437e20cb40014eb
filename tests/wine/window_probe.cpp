// mb_window_probe [CLASS [SECONDS]]: for the screen checks under Wine. Prints
// the screen as Windows programs see it, one fact a line:
//   dpi X Y
//   screen WIDTH HEIGHT            (pixels)
//   taskbar LEFT TOP RIGHT BOTTOM  (pixels; "taskbar none" when the shell cannot tell)
// then waits up to SECONDS (default 30) for a visible window of CLASS
// (default the progress window's) and prints its outer and inner rectangles
// on the screen:
//   window LEFT TOP RIGHT BOTTOM
//   inner LEFT TOP RIGHT BOTTOM
// Exit status 0 when the window was found, 1 when it did not come in time.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/win32_text.h"

namespace {

void PrintScreen() {
  HDC dc = GetDC(nullptr);
  std::printf("dpi %d %d\n", GetDeviceCaps(dc, LOGPIXELSX), GetDeviceCaps(dc, LOGPIXELSY));
  ReleaseDC(nullptr, dc);
  std::printf("screen %d %d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  APPBARDATA abd{};
  abd.cbSize = sizeof abd;
  if (SHAppBarMessage(ABM_GETTASKBARPOS, &abd) != 0) {
    std::printf("taskbar %ld %ld %ld %ld\n", abd.rc.left, abd.rc.top, abd.rc.right, abd.rc.bottom);
  } else {
    std::printf("taskbar none\n");
  }
}

HWND WaitForWindow(const std::wstring& window_class, int seconds) {
  for (int waited = 0; waited < seconds * 1000; waited += 50) {
    HWND w = FindWindowW(window_class.c_str(), nullptr);
    if (w != nullptr && IsWindowVisible(w)) return w;
    Sleep(50);
  }
  return nullptr;
}

void PrintWindow(HWND w) {
  RECT outer;
  GetWindowRect(w, &outer);
  std::printf("window %ld %ld %ld %ld\n", outer.left, outer.top, outer.right, outer.bottom);
  RECT inner;
  GetClientRect(w, &inner);
  POINT corners[2] = {{inner.left, inner.top}, {inner.right, inner.bottom}};
  MapWindowPoints(w, nullptr, corners, 2);
  std::printf("inner %ld %ld %ld %ld\n", corners[0].x, corners[0].y, corners[1].x, corners[1].y);
}

}  // namespace

int main(int argc, char** argv) {
  const std::wstring window_class = mb::win32::Utf8ToWide(argc > 1 ? argv[1] : "Mailbeacon_Splash");
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 30;
  PrintScreen();
  HWND w = WaitForWindow(window_class, seconds);
  if (w == nullptr) {
    std::fprintf(stderr, "mb_window_probe: no visible window of class %s\n",
                 argc > 1 ? argv[1] : "Mailbeacon_Splash");
    std::fflush(stdout);
    return 1;
  }
  PrintWindow(w);
  std::fflush(stdout);
  return 0;
}
