// Where the progress window goes: just inside the corner of the screen at
// the taskbar's notification area. Pure arithmetic on whole twips, fed by the
// window system's taskbar rectangle (pixels), screen size and twips per pixel;
// basWinAPI::GetTaskbarRect and PlaceAboveTaskbar put it to work.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/window_system.h"

namespace mb::placement {

struct TaskbarTwips {
  std::int32_t top = 0, left = 0, bottom = 0, right = 0;
};

struct ScreenTwips {
  std::int32_t width = 0, height = 0;
};

struct WindowPosition {
  std::int32_t top = 0, left = 0;
};

// Margins from the taskbar or the screen edge, and the larger bottom margin
// when the taskbar's side cannot be told.
inline constexpr std::int32_t kMargin = 50;
inline constexpr std::int32_t kUndeterminedBottomMargin = 1000;

// x rounded to the nearest whole number, ties to the even one. Throws
// std::range_error when x is not finite or does not fit 32 bits.
std::int32_t RoundHalfEven(double x);

// Half of a screen measure, rounded half to even (5761 / 2 -> 2880).
std::int32_t HalfOf(std::int32_t twips);

// The pixel rectangle in twips: each product rounded to the nearest twip.
// Throws std::range_error on a product that does not fit 32 bits.
TaskbarTwips ToTwips(const platform::PixelRect& px, double twips_per_pixel_x,
                     double twips_per_pixel_y);

// Which side the taskbar lies along, in the order the tests are made.
enum class TaskbarSide { kBottom = 1, kRight, kLeft, kTop, kUndetermined };
TaskbarSide SideOf(const TaskbarTwips& bar, const ScreenTwips& screen);

// The window's Top and Left for a window of the given outer size.
WindowPosition PlaceWindow(const TaskbarTwips& bar, const ScreenTwips& screen, std::int32_t width,
                           std::int32_t height);

// The position used when the taskbar cannot be found.
WindowPosition FallbackPosition(const ScreenTwips& screen, std::int32_t width, std::int32_t height);

// The taskbar rectangle in twips, or nothing when the window system cannot
// report it (false) or a query fails.
std::optional<TaskbarTwips> QueryTaskbar(platform::WindowSystem& ws);

}  // namespace mb::placement
