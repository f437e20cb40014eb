#include "progress/taskbar_placement.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace mb::placement {

std::int32_t RoundHalfEven(double x) {
  if (!std::isfinite(x)) throw std::range_error("twips value is not finite");
  double whole = std::floor(x);
  const double fraction = x - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) {
    whole += 1.0;
  }
  if (whole < std::numeric_limits<std::int32_t>::min() ||
      whole > std::numeric_limits<std::int32_t>::max()) {
    throw std::range_error("twips value out of range");
  }
  return static_cast<std::int32_t>(whole);
}

std::int32_t HalfOf(std::int32_t twips) { return RoundHalfEven(twips / 2.0); }

TaskbarTwips ToTwips(const platform::PixelRect& px, double twips_per_pixel_x,
                     double twips_per_pixel_y) {
  TaskbarTwips t;
  t.top = RoundHalfEven(px.top * twips_per_pixel_y);
  t.left = RoundHalfEven(px.left * twips_per_pixel_x);
  t.bottom = RoundHalfEven(px.bottom * twips_per_pixel_y);
  t.right = RoundHalfEven(px.right * twips_per_pixel_x);
  return t;
}

TaskbarSide SideOf(const TaskbarTwips& bar, const ScreenTwips& screen) {
  const std::int32_t half_width = HalfOf(screen.width);
  const std::int32_t half_height = HalfOf(screen.height);
  if (bar.top > half_height) return TaskbarSide::kBottom;
  if (bar.left > half_width) return TaskbarSide::kRight;
  if (bar.right < half_width) return TaskbarSide::kLeft;
  if (bar.bottom < half_height) return TaskbarSide::kTop;
  return TaskbarSide::kUndetermined;
}

namespace {

// Edges are subtracted in floating point, as whole twips come out anyway.
WindowPosition Inside(double bottom_edge, double right_edge, double width,
                      double height, double bottom_margin) {
  WindowPosition p;
  p.top = RoundHalfEven(bottom_edge - height - bottom_margin);
  p.left = RoundHalfEven(right_edge - width - kMargin);
  return p;
}

}  // namespace

WindowPosition PlaceWindow(const TaskbarTwips& bar, const ScreenTwips& screen,
                           std::int32_t width, std::int32_t height) {
  switch (SideOf(bar, screen)) {
    case TaskbarSide::kBottom:
      return Inside(bar.top, bar.right, width, height, kMargin);
    case TaskbarSide::kRight:
      return Inside(bar.bottom, bar.left, width, height, kMargin);
    case TaskbarSide::kLeft:
    case TaskbarSide::kTop:
      return Inside(screen.height, screen.width, width, height, kMargin);
    case TaskbarSide::kUndetermined:
      break;
  }
  return FallbackPosition(screen, width, height);
}

WindowPosition FallbackPosition(const ScreenTwips& screen, std::int32_t width,
                                std::int32_t height) {
  return Inside(screen.height, screen.width, width, height,
                kUndeterminedBottomMargin);
}

std::optional<TaskbarTwips> QueryTaskbar(platform::WindowSystem& ws) {
  // A taskbar the shell cannot report leaves the rectangle all zero, which
  // the placement cases then read as a taskbar along the left edge.
  platform::PixelRect px;
  if (!ws.GetTaskbarRect(&px)) px = {};
  return ToTwips(px, ws.TwipsPerPixelX(), ws.TwipsPerPixelY());
}

}  // namespace mb::placement
