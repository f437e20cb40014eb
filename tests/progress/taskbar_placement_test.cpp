#include "progress/taskbar_placement.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

#include "agent/bas_win_api.h"
#include "helpers/recording_window_system.h"
#include "progress/frm_splash.h"
#include "progress/splash_layout.h"

namespace mb::placement {
namespace {

const ScreenTwips kScreen{15360, 11520};
constexpr std::int32_t kW = 5100, kH = 6000;

void ExpectPosition(const TaskbarTwips& bar, const ScreenTwips& screen, std::int32_t top,
                    std::int32_t left) {
  const WindowPosition p = PlaceWindow(bar, screen, kW, kH);
  EXPECT_EQ(p.top, top);
  EXPECT_EQ(p.left, left);
}

TEST(TaskbarPlacement, EachSideGoesToItsCorner) {
  // {top, left, bottom, right}
  ExpectPosition({10950, 0, 11520, 15360}, kScreen, 4900, 10210);  // bottom
  ExpectPosition({0, 14400, 11520, 15360}, kScreen, 5470, 9250);   // right
  ExpectPosition({0, 0, 11520, 960}, kScreen, 5470, 10210);        // left
  ExpectPosition({0, 0, 600, 15360}, kScreen, 5470, 10210);        // top
  EXPECT_EQ(SideOf({10950, 0, 11520, 15360}, kScreen), TaskbarSide::kBottom);
  EXPECT_EQ(SideOf({0, 14400, 11520, 15360}, kScreen), TaskbarSide::kRight);
  EXPECT_EQ(SideOf({0, 0, 11520, 960}, kScreen), TaskbarSide::kLeft);
  EXPECT_EQ(SideOf({0, 0, 600, 15360}, kScreen), TaskbarSide::kTop);
}

TEST(TaskbarPlacement, EdgesExactlyAtTheCentreLinesDoNotCount) {
  // Half the screen is 5760 high and 7680 wide; every test is strict.
  EXPECT_EQ(SideOf({5760, 0, 11520, 15360}, kScreen), TaskbarSide::kUndetermined);
  EXPECT_EQ(SideOf({5761, 0, 11520, 15360}, kScreen), TaskbarSide::kBottom);
  EXPECT_EQ(SideOf({0, 7680, 11520, 15360}, kScreen), TaskbarSide::kUndetermined);
  EXPECT_EQ(SideOf({0, 7681, 11520, 15360}, kScreen), TaskbarSide::kRight);
  EXPECT_EQ(SideOf({0, 0, 11520, 7680}, kScreen), TaskbarSide::kUndetermined);
  EXPECT_EQ(SideOf({0, 0, 11520, 7679}, kScreen), TaskbarSide::kLeft);
  EXPECT_EQ(SideOf({0, 0, 5760, 15360}, kScreen), TaskbarSide::kUndetermined);
  EXPECT_EQ(SideOf({0, 0, 5759, 15360}, kScreen), TaskbarSide::kTop);
}

TEST(TaskbarPlacement, StraddlingRectangleKeepsTheLargeBottomMargin) {
  const TaskbarTwips straddling{5000, 7000, 6000, 8000};
  EXPECT_EQ(SideOf(straddling, kScreen), TaskbarSide::kUndetermined);
  ExpectPosition(straddling, kScreen, 11520 - 6000 - 1000, 10210);
}

TEST(TaskbarPlacement, HalfScreenRoundsHalfToEven) {
  EXPECT_EQ(HalfOf(5761), 2880);  // 2880.5
  EXPECT_EQ(HalfOf(5763), 2882);  // 2881.5
  EXPECT_EQ(HalfOf(5762), 2881);
  // Screen 11521 high: half 5760, so a taskbar at 5761 is along the bottom.
  EXPECT_EQ(SideOf({5761, 0, 11521, 15360}, {15360, 11521}), TaskbarSide::kBottom);
  // Screen 11523 high: half 5762, so 5762 is not below the centre line.
  EXPECT_EQ(SideOf({5762, 0, 11523, 15360}, {15360, 11523}), TaskbarSide::kUndetermined);
  // The same for the width: 15361 -> 7680, 15363 -> 7682.
  EXPECT_EQ(SideOf({0, 7681, 11520, 15361}, {15361, 11520}), TaskbarSide::kRight);
  EXPECT_EQ(SideOf({0, 7682, 11520, 15363}, {15363, 11520}), TaskbarSide::kUndetermined);
}

TEST(TaskbarPlacement, PixelsBecomeWholeTwipsRoundedHalfToEven) {
  // 7.5 twips per pixel: 3 px = 22.5 -> 22, 5 px = 37.5 -> 38.
  const TaskbarTwips t = ToTwips({3, 5, 7, 1}, 7.5, 7.5);
  EXPECT_EQ(t.left, 22);
  EXPECT_EQ(t.top, 38);
  EXPECT_EQ(t.right, 52);  // 52.5 -> 52
  EXPECT_EQ(t.bottom, 8);  // 7.5 -> 8
  // Horizontal and vertical factors are kept apart.
  const TaskbarTwips u = ToTwips({10, 10, 20, 20}, 15, 12);
  EXPECT_EQ(u.left, 150);
  EXPECT_EQ(u.right, 300);
  EXPECT_EQ(u.top, 120);
  EXPECT_EQ(u.bottom, 240);
  EXPECT_THROW(ToTwips({0, 0, 1 << 30, 0}, 15, 15), std::range_error);
  EXPECT_THROW(RoundHalfEven(std::numeric_limits<double>::quiet_NaN()), std::range_error);
}

// --- basWinAPI over a window system

class PlaceAboveTaskbarTest : public ::testing::Test {
 protected:
  test::RecordingWindowSystem ws;
  frmSplash window{ws};
  // The progress window's outer size.
  static constexpr std::int32_t W = splash::kWindowWidth, H = splash::kWindowHeight;
};

TEST_F(PlaceAboveTaskbarTest, UsesTheWindowsOwnSize) {
  ws.SetTaskbarTwips(10950, 0, 11520, 15360);
  basWinAPI::PlaceAboveTaskbar(ws, window);
  EXPECT_EQ(window.Top(), 10950 - H - 50);
  EXPECT_EQ(window.Left(), 15360 - W - 50);
}

TEST_F(PlaceAboveTaskbarTest, TopIsWrittenBeforeLeft) {
  ws.SetTaskbarTwips(0, 14400, 11520, 15360);
  window.Show();
  window.SetLeft(7);
  window.SetTop(9);
  ws.log.clear();
  basWinAPI::PlaceAboveTaskbar(ws, window);
  ASSERT_EQ(ws.log.size(), 2u);
  EXPECT_EQ(ws.log[0], "Move 7 " + std::to_string(11520 - H - 50));
  EXPECT_EQ(ws.log[1],
            "Move " + std::to_string(14400 - W - 50) + " " + std::to_string(11520 - H - 50));
}

TEST_F(PlaceAboveTaskbarTest, UnreportedTaskbarGivesTheBottomRightCornerAndAFailureTheLargeMargin) {
  // The shell cannot report the taskbar: an all-zero rectangle, case 3.
  ws.SetTaskbarTwips(10950, 0, 11520, 15360);
  ws.taskbar_known = false;
  basWinAPI::PlaceAboveTaskbar(ws, window);
  EXPECT_EQ(window.Top(), 11520 - H - 50);
  EXPECT_EQ(window.Left(), 15360 - W - 50);

  frmSplash other(ws);
  ws.taskbar_known = true;
  ws.taskbar_throws = true;
  basWinAPI::PlaceAboveTaskbar(ws, other);
  EXPECT_EQ(other.Top(), 11520 - H - 1000);
  EXPECT_EQ(other.Left(), 15360 - W - 50);
}

TEST_F(PlaceAboveTaskbarTest, OverflowingConversionFallsBack) {
  ws.SetTaskbarTwips(10950, 0, 11520, 15360);
  ws.twips_per_pixel_y = 1e12;
  basWinAPI::PlaceAboveTaskbar(ws, window);
  EXPECT_EQ(window.Top(), 11520 - H - 1000);
}

TEST_F(PlaceAboveTaskbarTest, WithoutAScreenTheWindowStays) {
  ws.screen_throws = true;
  window.SetTop(123);
  window.SetLeft(456);
  EXPECT_NO_THROW(basWinAPI::PlaceAboveTaskbar(ws, window));
  EXPECT_EQ(window.Top(), 123);
  EXPECT_EQ(window.Left(), 456);
}

TEST_F(PlaceAboveTaskbarTest, GetTaskbarRectConvertsAndLeavesZerosWhenUnknown) {
  ws.taskbar = {0, 1040, 1920, 1080};
  ws.twips_per_pixel_x = 15;
  ws.twips_per_pixel_y = 12;
  std::int32_t top = -1, left = -1, bottom = -1, right = -1;
  basWinAPI::GetTaskbarRect(ws, top, left, bottom, right);
  EXPECT_EQ(top, 1040 * 12);
  EXPECT_EQ(left, 0);
  EXPECT_EQ(bottom, 1080 * 12);
  EXPECT_EQ(right, 1920 * 15);

  ws.taskbar_known = false;
  basWinAPI::GetTaskbarRect(ws, top, left, bottom, right);
  EXPECT_EQ(top, 0);
  EXPECT_EQ(left, 0);
  EXPECT_EQ(bottom, 0);
  EXPECT_EQ(right, 0);
}

}  // namespace
}  // namespace mb::placement
