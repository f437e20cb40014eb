// The window system and the progress window on a real (virtual) display:
// scripts/test-wine runs these under Xvfb.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/win32/win32_label_font.h"
#include "platform/win32/win32_splash_view.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_window_system.h"
#include "progress/splash_layout.h"
#include "support/error.h"
#include "win32/helpers/dialog_answer.h"

namespace mb::win32 {
namespace {

class Win32WindowSystemTest : public ::testing::Test {
 protected:
  Win32WindowSystem ws_{GetModuleHandleW(nullptr)};
};

TEST_F(Win32WindowSystemTest, MainWindowIsFoundByCaptionButNeverShown) {
  ws_.HideMainWindow();
  ws_.LeaveTaskList();
  EXPECT_EQ(FindWindowW(nullptr, L"Mailbeacon_Shell"), ws_.MainWindow());
  EXPECT_FALSE(IsWindowVisible(ws_.MainWindow()));
  const LONG_PTR ex = GetWindowLongPtrW(ws_.MainWindow(), GWL_EXSTYLE);
  EXPECT_TRUE(ex & WS_EX_TOOLWINDOW);
  EXPECT_FALSE(ex & WS_EX_APPWINDOW);
}

TEST_F(Win32WindowSystemTest, TheTimerFiresOncePerArming) {
  int runs = 0;
  ws_.ArmTimer(10);
  ws_.RunMessageLoop([&] {
    EXPECT_FALSE(ws_.TimerArmed());
    if (++runs < 3) ws_.ArmTimer(10);
  });
  EXPECT_EQ(runs, 3);
  EXPECT_FALSE(ws_.TimerArmed());
}

// A server's POLL can arm the timer for up to a day and a tenth: the system
// takes the interval, and the loop goes on delivering the window's other
// messages meanwhile (here a thread timer's, which brings the next run
// forward).
Win32WindowSystem* long_wait_ws = nullptr;
int long_wait_messages = 0;
void CALLBACK DuringTheLongWait(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  ++long_wait_messages;
  long_wait_ws->ArmTimer(1);
}

TEST_F(Win32WindowSystemTest, ALongWaitKeepsTheMessageLoopRunning) {
  long_wait_ws = &ws_;
  long_wait_messages = 0;
  ws_.ArmTimer(95040000);  // 1.1 x 86400 s
  ASSERT_NE(SetTimer(nullptr, 0, 20, DuringTheLongWait), 0u);
  int runs = 0;
  ws_.RunMessageLoop([&] { ++runs; });
  EXPECT_EQ(long_wait_messages, 1);
  EXPECT_EQ(runs, 1);
}

TEST_F(Win32WindowSystemTest, EndingTheProcessLeavesTheLoop) {
  ws_.ArmTimer(5);
  try {
    ws_.RunMessageLoop([] { throw ProcessEnd{3}; });
    FAIL() << "the loop swallowed the end of the process";
  } catch (const ProcessEnd& end) {
    EXPECT_EQ(end.status, 3);
  }
}

TEST_F(Win32WindowSystemTest, PumpingKeepsAQuitRequestForTheLoop) {
  PostQuitMessage(7);
  ws_.PumpMessages();
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(Win32WindowSystemTest, MessageBoxesHaveTheCallersCaptionAndOnlyTheirButtons) {
  {
    test::DialogAnswer answer(L"Mailbeacon", IDOK);
    ws_.MessageBoxOk("Installation failure : \xEC\x97\x90\xEB\x9F\xAC", "Mailbeacon");
    ASSERT_TRUE(answer.Found());
    EXPECT_EQ(answer.Text(), L"Installation failure : \uC5D0\uB7EC");
    EXPECT_TRUE(answer.HasButton(IDOK));
    EXPECT_FALSE(answer.HasButton(IDCANCEL));
    EXPECT_FALSE(answer.HasIcon());
  }
  {
    test::DialogAnswer answer(L"Mailbeacon Installation", IDOK);
    ws_.MessageBoxInformation("Download incomplete.", "Mailbeacon Installation");
    ASSERT_TRUE(answer.Found());
    EXPECT_TRUE(answer.HasButton(IDOK));
    EXPECT_FALSE(answer.HasButton(IDCANCEL));
    EXPECT_TRUE(answer.HasInformationIcon());
  }
  {
    test::DialogAnswer answer(L"Mailbeacon Installation", IDYES);
    EXPECT_TRUE(ws_.MessageBoxYesNo("Retry?", "Mailbeacon Installation"));
    EXPECT_TRUE(answer.HasButton(IDNO));
  }
  {
    test::DialogAnswer answer(L"Mailbeacon Installation", IDNO);
    EXPECT_FALSE(ws_.MessageBoxYesNo("Retry?", "Mailbeacon Installation"));
  }
}

TEST_F(Win32WindowSystemTest, GeometryIsInTwips) {
  HDC dc = GetDC(nullptr);
  const int dpi_x = GetDeviceCaps(dc, LOGPIXELSX);
  ReleaseDC(nullptr, dc);
  EXPECT_DOUBLE_EQ(ws_.TwipsPerPixelX() * dpi_x, 1440.0);
  EXPECT_GT(ws_.TwipsPerPixelY(), 0.0);
  const double width_px = GetSystemMetrics(SM_CXSCREEN);
  EXPECT_NEAR(ws_.ScreenWidthTwips(), width_px * ws_.TwipsPerPixelX(), 0.5);
  EXPECT_GT(ws_.ScreenHeightTwips(), 0);
  platform::PixelRect r;
  if (ws_.GetTaskbarRect(&r)) {
    EXPECT_LE(r.left, r.right);
  }
}

class Win32SplashViewTest : public Win32WindowSystemTest {
 protected:
  void SetUp() override {
    view_ = ws_.CreateSplashView();
    win_ = static_cast<Win32SplashView*>(view_.get());
  }
  COLORREF PixelAt(splash::ControlId id, double fx, double fy) {
    const splash::Control& c = splash::ControlOf(id);
    const splash::Point p = splash::ClientOrigin(id);
    const int x = static_cast<int>(std::lround((p.x + c.width * fx) / ws_.TwipsPerPixelX()));
    const int y = static_cast<int>(std::lround((p.y + c.height * fy) / ws_.TwipsPerPixelY()));
    HDC dc = GetDC(win_->Window());
    const COLORREF color = GetPixel(dc, x, y);
    ReleaseDC(win_->Window(), dc);
    return color;
  }

  std::unique_ptr<platform::SplashView> view_;
  Win32SplashView* win_ = nullptr;
};

TEST_F(Win32SplashViewTest, ABorderlessTopmostWindowWhereItIsMoved) {
  view_->SetPicture(splash::kImageEnglish);
  view_->SetTitle("Mailbeacon add-in menu created");
  view_->SetStatus("Comparing file versions");
  view_->Move(1500, 3000);
  view_->SetTopmost();
  view_->Show();
  HWND w = win_->Window();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(IsWindowVisible(w));
  const LONG_PTR style = GetWindowLongPtrW(w, GWL_STYLE);
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_FALSE((style & WS_CAPTION) == WS_CAPTION);
  EXPECT_FALSE(style & WS_SYSMENU);
  EXPECT_TRUE(GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_TOPMOST);
  RECT r;
  GetWindowRect(w, &r);
  EXPECT_EQ(r.left, std::lround(1500 / ws_.TwipsPerPixelX()));
  EXPECT_EQ(r.top, std::lround(3000 / ws_.TwipsPerPixelY()));
  EXPECT_NEAR(r.right - r.left, splash::kWindowWidth / ws_.TwipsPerPixelX(), 1.0);
  EXPECT_NEAR(r.bottom - r.top, splash::kWindowHeight / ws_.TwipsPerPixelY(), 1.0);
  // The inner area has the designed size; the frame is at the left and top.
  RECT inner;
  GetClientRect(w, &inner);
  EXPECT_EQ(inner.right, std::lround(splash::kClientWidth / ws_.TwipsPerPixelX()));
  EXPECT_EQ(inner.bottom, std::lround(splash::kClientHeight / ws_.TwipsPerPixelY()));
  POINT origin{0, 0}, corner{inner.right, inner.bottom};
  ClientToScreen(w, &origin);
  ClientToScreen(w, &corner);
  EXPECT_EQ(origin.x - r.left, std::lround(splash::kFrame / ws_.TwipsPerPixelX()));
  EXPECT_EQ(origin.y - r.top, std::lround(splash::kFrame / ws_.TwipsPerPixelY()));
  EXPECT_EQ(corner.x, r.right);
  EXPECT_EQ(corner.y, r.bottom);
  view_->Unload();
  EXPECT_FALSE(IsWindow(w));
}

TEST_F(Win32SplashViewTest, PanelsSeparatorAndProgressBarArePainted) {
  view_->Move(0, 0);
  view_->Show();
  view_->PaintBar(splash::kSurfaceWidth / 2.0, splash::kSurfaceWidth, splash::kBarColor);
  ws_.PumpMessages();
  using splash::ControlId;
  const COLORREF blue = RGB(2, 132, 229);
  EXPECT_EQ(PixelAt(ControlId::kPicture3, 0.1, 0.95), static_cast<COLORREF>(splash::kBarColor));
  EXPECT_EQ(PixelAt(ControlId::kPicture3, 0.9, 0.95), blue);
  EXPECT_EQ(PixelAt(ControlId::kPicture2, 0.02, 0.9), blue);
  EXPECT_EQ(PixelAt(ControlId::kLine1, 0.5, 0.0), RGB(192, 192, 192));
  EXPECT_EQ(win_->BarPixels(), std::lround(splash::kSurfaceWidth / 2.0 / ws_.TwipsPerPixelX()));
  // Clearing: a later, smaller bar leaves the rest of the surface blue.
  view_->PaintBar(0.0, splash::kSurfaceWidth, splash::kBarColor);
  EXPECT_EQ(PixelAt(ControlId::kPicture3, 0.1, 0.95), blue);
  // Below the blue panel, down to the last row and column of the inner
  // area, Picture1's own background shows.
  RECT inner;
  GetClientRect(win_->Window(), &inner);
  HDC dc = GetDC(win_->Window());
  EXPECT_EQ(GetPixel(dc, inner.right - 1, inner.bottom - 1), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(dc, 0, inner.bottom - 1), RGB(255, 255, 255));
  ReleaseDC(win_->Window(), dc);
}

// Wherever the window's own font is missing, the face the system hands back
// instead may lack the glyphs (Wine's choice for a Korean face draws empty
// boxes for every letter): each label gets a face that has them.
TEST_F(Win32SplashViewTest, LabelsAreDrawnInAFaceThatHasTheirGlyphs) {
  const std::string english = "Installing newest files..\r\nWait a moment...";
  const std::string korean =  // "최신버전의 파일을 설치합니다." / "잠시만 기다려주십시오."
      "\xEC\xB5\x9C\xEC\x8B\xA0\xEB\xB2\x84\xEC\xA0\x84\xEC\x9D\x98 \xED\x8C\x8C\xEC\x9D\xBC"
      "\xEC\x9D\x84 \xEC\x84\xA4\xEC\xB9\x98\xED\x95\xA9\xEB\x8B\x88\xEB\x8B\xA4.\r\n"
      "\xEC\x9E\xA0\xEC\x8B\x9C\xEB\xA7\x8C \xEA\xB8\xB0\xEB\x8B\xA4\xEB\xA0\xA4\xEC\xA3\xBC"
      "\xEC\x8B\xAD\xEC\x8B\x9C\xEC\x98\xA4.";
  for (const std::string& text : {english, korean}) {
    view_->SetTitle(text);
    view_->SetStatus(text);
    for (splash::ControlId label : {splash::ControlId::kLblTitle, splash::ControlId::kLblCurrent}) {
      HFONT font = win_->LabelFont(label);
      EXPECT_TRUE(LabelFonts::HasGlyphsFor(font, Utf8ToWide(text)))
          << WideToUtf8(LabelFonts::SelectedFace(font)) << " for " << text;
    }
  }
}

}  // namespace
}  // namespace mb::win32
