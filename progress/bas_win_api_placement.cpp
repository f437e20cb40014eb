// basWinAPI's placement functions: the taskbar rectangle in twips and the
// progress window's position next to the notification area.
#include "agent/bas_win_api.h"
#include "progress/frm_splash.h"
#include "progress/taskbar_placement.h"

#include <optional>

namespace mb::basWinAPI {

void GetTaskbarRect(platform::WindowSystem& ws, std::int32_t& top,
                    std::int32_t& left, std::int32_t& bottom,
                    std::int32_t& right) {
  // The shell's own answer is not examined: a rectangle it does not fill
  // stays zero.
  platform::PixelRect px;
  (void)ws.GetTaskbarRect(&px);
  const placement::TaskbarTwips t =
      placement::ToTwips(px, ws.TwipsPerPixelX(), ws.TwipsPerPixelY());
  top = t.top;
  left = t.left;
  bottom = t.bottom;
  right = t.right;
}

namespace {

void MoveTo(frmSplash& window, const placement::WindowPosition& p) {
  window.SetTop(p.top);  // Top first, then Left
  window.SetLeft(p.left);
}

std::optional<placement::WindowPosition> NextToTaskbar(
    platform::WindowSystem& ws, const frmSplash& window) {
  const std::optional<placement::TaskbarTwips> bar = placement::QueryTaskbar(ws);
  if (!bar) return std::nullopt;
  const placement::ScreenTwips screen{ws.ScreenWidthTwips(), ws.ScreenHeightTwips()};
  return placement::PlaceWindow(*bar, screen, window.Width(), window.Height());
}

}  // namespace

// Any failure on the way places the window as when the taskbar's side
// cannot be told: the larger bottom margin keeps it clear of a taskbar that
// may still be at the bottom.
void PlaceAboveTaskbar(platform::WindowSystem& ws, frmSplash& window) {
  try {
    if (const auto position = NextToTaskbar(ws, window)) {
      MoveTo(window, *position);
      return;
    }
  } catch (...) {
    // cleared: placed as when the taskbar's side cannot be told
  }
  try {
    const placement::ScreenTwips screen{ws.ScreenWidthTwips(), ws.ScreenHeightTwips()};
    MoveTo(window, placement::FallbackPosition(screen, window.Width(), window.Height()));
  } catch (...) {
    // Not even the screen size is known: the window stays where it is.
  }
}

}  // namespace mb::basWinAPI
