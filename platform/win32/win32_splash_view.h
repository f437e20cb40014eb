// The real progress window: no caption, a thin frame at the left and top,
// topmost, painted from the designed layout table (title picture, blue
// panels, separator, the two labels and the progress bar on the status
// panel). Everything scales with the screen's pixels per inch, the title
// picture included.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32/win32_label_font.h"
#include "platform/win32/win32_windows.h"
#include "platform/window_system.h"
#include "progress/splash_layout.h"

namespace mb::win32 {

inline constexpr const wchar_t* kSplashClass = L"Mailbeacon_Splash";

class Win32SplashView : public platform::SplashView {
 public:
  Win32SplashView(HINSTANCE instance, double twips_per_px_x, double twips_per_px_y);
  ~Win32SplashView() override;
  Win32SplashView(const Win32SplashView&) = delete;
  Win32SplashView& operator=(const Win32SplashView&) = delete;

  void Show() override;
  void Refresh() override;
  void Unload() override;
  void Move(std::int32_t left, std::int32_t top) override;
  void SetTopmost() override;
  void SetPicture(int image_index) override;
  void SetTitle(const std::string& text) override;
  void SetStatus(const std::string& text) override;
  void PaintBar(double filled_width, double surface_width, std::uint32_t color) override;

  HWND Window() const { return hwnd_; }
  // The progress bar's filled width in pixels, as last painted.
  int BarPixels() const;
  // The font the label is drawn in, chosen for its current text.
  HFONT LabelFont(splash::ControlId label) const;

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  HWND EnsureWindow();
  void LoadPicture();
  void Paint(HDC dc);
  void PaintFrame();
  void FitFrame(RECT* window_rect) const;
  void PaintControl(HDC dc, const splash::Control& c);
  void PaintPicture(HDC dc, const RECT& area);
  void PaintLabel(HDC dc, const splash::Control& c, const RECT& area);
  RECT ControlRect(splash::ControlId id) const;
  HFONT FontFor(splash::ControlId label, const std::wstring& text);
  int PxX(double twips) const;
  int PxY(double twips) const;

  HINSTANCE instance_;
  double tpp_x_, tpp_y_;
  HWND hwnd_ = nullptr;
  LabelFonts fonts_;
  HFONT title_font_ = nullptr;
  HFONT status_font_ = nullptr;
  HBITMAP picture_ = nullptr;
  int picture_index_ = splash::kImageDesigned;
  std::wstring title_;
  std::wstring status_;
  double bar_fraction_ = 0.0;
  std::uint32_t bar_color_ = splash::kBarColor;
};

}  // namespace mb::win32
