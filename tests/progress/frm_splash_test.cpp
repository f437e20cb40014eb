#include "progress/frm_splash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "helpers/recording_window_system.h"
#include "progress/splash_layout.h"

namespace mb {
namespace {

class FrmSplashTest : public ::testing::Test {
 protected:
  FrmSplashTest() { ws.SetTaskbarTwips(10950, 0, 11520, 15360); }

  test::RecordingSplashView& View() { return *ws.last_view; }

  test::RecordingWindowSystem ws;
  frmSplash splash{ws};
};

TEST_F(FrmSplashTest, FirstShowLoadsPlacesRaisesAndMakesTopmost) {
  const std::int32_t top = 10950 - splash.Height() - 50;
  const std::int32_t left = 15360 - splash.Width() - 50;
  splash.Show();
  const std::vector<std::string> expected{
      "CreateSplashView",
      "SetPicture 1",
      "SetTitle ",
      "SetStatus Label1",
      "Move 0 " + std::to_string(top),  // Top first
      "Move " + std::to_string(left) + " " + std::to_string(top),
      "Move " + std::to_string(left) + " " + std::to_string(top - 100),
      "SetTopmost",
      "Show",
  };
  EXPECT_EQ(ws.log, expected);
  EXPECT_EQ(splash.Top(), top - 100);
  EXPECT_EQ(splash.Left(), left);
  EXPECT_TRUE(splash.Loaded());
}

TEST_F(FrmSplashTest, WindowSizeIsTheClientAreaPlusTheFrame) {
  EXPECT_EQ(splash.Width(), 5025 + 60);
  EXPECT_EQ(splash.Height(), 5685 + 60);
}

TEST_F(FrmSplashTest, RepeatedRunsReuseTheOneWindow) {
  splash.Show();
  splash.SetPicture(3);
  splash.SetTitleCaption("Title");
  splash.SetCurrentCaption("first");
  ws.log.clear();
  splash.Show();
  splash.SetPicture(3);
  splash.SetTitleCaption("Title");
  splash.SetCurrentCaption("second");
  EXPECT_EQ(ws.views_made, 1);
  const std::vector<std::string> expected{"Show", "SetPicture 3", "SetTitle Title",
                                          "SetStatus second"};
  EXPECT_EQ(ws.log, expected);
  EXPECT_EQ(splash.CurrentCaption(), "second");
}

TEST_F(FrmSplashTest, ControlsSetBeforeLoadingReachTheViewWhenItLoads) {
  splash.SetPicture(2);
  splash.SetTitleCaption("A\r\nB");
  splash.SetCurrentCaption("status");
  EXPECT_FALSE(splash.Loaded());
  EXPECT_TRUE(ws.log.empty());
  splash.Show();
  ASSERT_GE(ws.log.size(), 4u);
  EXPECT_EQ(ws.log[1], "SetPicture 2");
  EXPECT_EQ(ws.log[2], "SetTitle A\r\nB");
  EXPECT_EQ(ws.log[3], "SetStatus status");
}

TEST_F(FrmSplashTest, PictureIndexOutsideTheImageListIsRefused) {
  splash.SetPicture(2);
  EXPECT_THROW(splash.SetPicture(0), std::out_of_range);
  EXPECT_THROW(splash.SetPicture(splash::kImageCount + 1), std::out_of_range);
  EXPECT_EQ(splash.Picture(), 2);
}

TEST_F(FrmSplashTest, UnloadClosesTheViewAndAnotherShowLoadsAgain) {
  splash.Show();
  splash.Unload();
  EXPECT_FALSE(splash.Loaded());
  EXPECT_EQ(ws.log.back(), "Unload");
  ws.log.clear();
  splash.SetCurrentCaption("after");
  splash.Val(5);
  splash.Refresh();
  splash.Unload();
  EXPECT_TRUE(ws.log.empty());
  splash.Show();
  EXPECT_EQ(ws.views_made, 2);
  EXPECT_EQ(ws.log[3], "SetStatus after");
  EXPECT_NE(std::find(ws.log.begin(), ws.log.end(), "SetTopmost"), ws.log.end());
}

// --- the progress display

class FrmSplashDrawTest : public FrmSplashTest {
 protected:
  FrmSplashDrawTest() { splash.Show(); }
  const std::vector<test::RecordingSplashView::Bar>& Bars() { return View().bars; }
};

TEST_F(FrmSplashDrawTest, NothingIsPaintedWhileMaxIsZero) {
  splash.Val(50);
  splash.Complete(true);
  splash.Draw();
  EXPECT_TRUE(Bars().empty());
  EXPECT_EQ(splash.Val(), 50);
  EXPECT_TRUE(splash.Complete());
}

TEST_F(FrmSplashDrawTest, BarRunsToWidthOverMaxTimesVal) {
  splash.Max(200);
  splash.Min(100);              // takes no part
  EXPECT_TRUE(Bars().empty());  // Max and Min only store
  splash.Val(50);
  ASSERT_EQ(Bars().size(), 1u);
  EXPECT_DOUBLE_EQ(Bars()[0].filled, 4575.0 / 200 * 50);
  EXPECT_DOUBLE_EQ(Bars()[0].surface, 4575.0);
  EXPECT_EQ(Bars()[0].color, 0x00488457u);
}

TEST_F(FrmSplashDrawTest, CompletePaintsTheWholeWidthUntilCleared) {
  splash.Max(1000);
  splash.Val(1);
  splash.Complete(true);
  ASSERT_EQ(Bars().size(), 2u);
  EXPECT_DOUBLE_EQ(Bars()[1].filled, 4575.0);
  splash.Complete(false);
  ASSERT_EQ(Bars().size(), 3u);
  EXPECT_DOUBLE_EQ(Bars()[2].filled, 4575.0 / 1000);
}

TEST_F(FrmSplashDrawTest, BoxesPastTheSurfaceShowOnlyTheirVisiblePart) {
  splash.Max(100);
  splash.Val(250);
  splash.Val(-10);
  splash.Max(-100);
  splash.Val(10);
  ASSERT_EQ(Bars().size(), 3u);
  EXPECT_DOUBLE_EQ(Bars()[0].filled, 4575.0);
  EXPECT_DOUBLE_EQ(Bars()[1].filled, 0.0);
  EXPECT_DOUBLE_EQ(Bars()[2].filled, 0.0);
}

TEST_F(FrmSplashDrawTest, DrawingErrorsAreIgnored) {
  splash.Max(10);
  View().fail_paint = true;
  EXPECT_NO_THROW(splash.Val(5));
  EXPECT_NO_THROW(splash.Complete(true));
  EXPECT_EQ(splash.Val(), 5);
}

TEST_F(FrmSplashDrawTest, TransferDetailGoesToTheView) {
  splash.SetTransfer(2, 5, 1024, 4096);
  EXPECT_EQ(ws.log.back(), "SetTransfer 2/5 1024/4096");
}

}  // namespace
}  // namespace mb
