#include "platform/win32/win32_splash_view.h"

#include <cmath>

#include "platform/win32/win32_resource_ids.h"
#include "platform/win32/win32_text.h"

namespace mb::win32 {
namespace {

using splash::ControlId;

COLORREF Color(splash::Rgb c) { return RGB(c.r, c.g, c.b); }

void RegisterSplashClass(HINSTANCE instance, WNDPROC proc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = kSplashClass;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) throw LastError();
}

int PixelsPerInch(double twips_per_pixel) {
  return static_cast<int>(std::lround(1440.0 / twips_per_pixel));
}

void FillRectColor(HDC dc, const RECT& r, COLORREF color) {
  HBRUSH brush = CreateSolidBrush(color);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

}  // namespace

Win32SplashView::Win32SplashView(HINSTANCE instance, double tpp_x, double tpp_y)
    : instance_(instance),
      tpp_x_(tpp_x),
      tpp_y_(tpp_y),
      fonts_(splash::ControlOf(ControlId::kLblTitle).font, PixelsPerInch(tpp_y)) {
  RegisterSplashClass(instance_, &Win32SplashView::WndProc);
  title_font_ = FontFor(ControlId::kLblTitle, title_);
  status_font_ = FontFor(ControlId::kLblCurrent, status_);
}

Win32SplashView::~Win32SplashView() {
  Unload();
  if (picture_ != nullptr) DeleteObject(picture_);
}

int Win32SplashView::PxX(double twips) const {
  return static_cast<int>(std::lround(twips / tpp_x_));
}
int Win32SplashView::PxY(double twips) const {
  return static_cast<int>(std::lround(twips / tpp_y_));
}

// No caption and no control box, topmost once Form_Load asks for it, and
// off the taskbar like the main window. The outer size is the inner area
// plus the frame, each rounded to pixels on its own, so that the inner area
// is exactly the designed one.
HWND Win32SplashView::EnsureWindow() {
  if (hwnd_ != nullptr) return hwnd_;
  const int width = PxX(splash::kClientWidth) + PxX(splash::kFrame);
  const int height = PxY(splash::kClientHeight) + PxY(splash::kFrame);
  hwnd_ = CreateWindowExW(WS_EX_TOOLWINDOW, kSplashClass, L"", WS_POPUP, 0, 0, width, height,
                          nullptr, nullptr, instance_, this);
  if (hwnd_ == nullptr) throw LastError("create the progress window");
  return hwnd_;
}

// The frame is at the left and top only: the inner area starts that far in
// and reaches the window's right and bottom edges.
void Win32SplashView::FitFrame(RECT* window_rect) const {
  window_rect->left += PxX(splash::kFrame);
  window_rect->top += PxY(splash::kFrame);
}

// A thin raised edge in the system's 3D colours.
void Win32SplashView::PaintFrame() {
  HDC dc = GetWindowDC(hwnd_);
  if (dc == nullptr) return;
  RECT outer;
  GetWindowRect(hwnd_, &outer);
  OffsetRect(&outer, -outer.left, -outer.top);
  const RECT left{0, 0, PxX(splash::kFrame), outer.bottom};
  const RECT top{0, 0, outer.right, PxY(splash::kFrame)};
  FillRect(dc, &left, GetSysColorBrush(COLOR_3DFACE));
  FillRect(dc, &top, GetSysColorBrush(COLOR_3DFACE));
  DrawEdge(dc, &outer, EDGE_RAISED, BF_LEFT | BF_TOP);
  ReleaseDC(hwnd_, dc);
}

LRESULT CALLBACK Win32SplashView::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32SplashView*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self != nullptr && msg == WM_NCCALCSIZE) {
    self->FitFrame(reinterpret_cast<RECT*>(lp));  // for both forms, rgrc[0] comes first
    return 0;
  }
  if (self != nullptr && msg == WM_NCPAINT) {
    self->PaintFrame();
    return 0;
  }
  if (self != nullptr && msg == WM_ERASEBKGND) return 1;  // WM_PAINT covers everything
  if (self != nullptr && msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    self->Paint(dc);
    EndPaint(hwnd, &ps);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

// Every run shows the window again; once it is up (and topmost) that must
// not take the focus from what the user is doing.
void Win32SplashView::Show() {
  HWND w = EnsureWindow();
  if (!IsWindowVisible(w)) ShowWindow(w, SW_SHOW);
}

void Win32SplashView::Refresh() {
  if (hwnd_ == nullptr) return;
  InvalidateRect(hwnd_, nullptr, FALSE);
  UpdateWindow(hwnd_);
}

void Win32SplashView::Unload() {
  if (hwnd_ == nullptr) return;
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  DestroyWindow(hwnd_);
  hwnd_ = nullptr;
}

void Win32SplashView::Move(std::int32_t left, std::int32_t top) {
  SetWindowPos(EnsureWindow(), nullptr, PxX(left), PxY(top), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32SplashView::SetTopmost() {
  SetWindowPos(EnsureWindow(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void Win32SplashView::SetPicture(int image_index) {
  picture_index_ = image_index;
  LoadPicture();
  if (hwnd_ != nullptr) InvalidateRect(hwnd_, nullptr, FALSE);
}

// A missing picture resource leaves Picture1 showing its background.
void Win32SplashView::LoadPicture() {
  if (picture_ != nullptr) DeleteObject(picture_);
  picture_ = static_cast<HBITMAP>(LoadImageW(instance_,
                                             MAKEINTRESOURCEW(MB_IDB_TITLE_BASE + picture_index_),
                                             IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

void Win32SplashView::SetTitle(const std::string& text) {
  title_ = Utf8ToWide(text);
  title_font_ = FontFor(ControlId::kLblTitle, title_);
  if (hwnd_ != nullptr) InvalidateRect(hwnd_, nullptr, FALSE);
}

void Win32SplashView::SetStatus(const std::string& text) {
  status_ = Utf8ToWide(text);
  status_font_ = FontFor(ControlId::kLblCurrent, status_);
  if (hwnd_ != nullptr) InvalidateRect(hwnd_, nullptr, FALSE);
}

// Painted at once: the bar moves while a download blocks the thread.
void Win32SplashView::PaintBar(double filled_width, double surface_width, std::uint32_t color) {
  bar_fraction_ = surface_width > 0.0 ? filled_width / surface_width : 0.0;
  bar_color_ = color;
  if (hwnd_ == nullptr) return;
  const RECT r = ControlRect(splash::kProgressSurface);
  InvalidateRect(hwnd_, &r, FALSE);
  UpdateWindow(hwnd_);
}

int Win32SplashView::BarPixels() const {
  const RECT r = ControlRect(splash::kProgressSurface);
  const double fraction = bar_fraction_ < 0.0 ? 0.0 : (bar_fraction_ > 1.0 ? 1.0 : bar_fraction_);
  return static_cast<int>(std::lround(fraction * (r.right - r.left)));
}

HFONT Win32SplashView::FontFor(ControlId label, const std::wstring& text) {
  const RECT box = ControlRect(label);
  return fonts_.For(text, box.right - box.left, box.bottom - box.top);
}

HFONT Win32SplashView::LabelFont(ControlId label) const {
  return label == ControlId::kLblTitle ? title_font_ : status_font_;
}

RECT Win32SplashView::ControlRect(ControlId id) const {
  const splash::Control& c = splash::ControlOf(id);
  const splash::Point p = splash::ClientOrigin(id);
  return RECT{PxX(p.x), PxY(p.y), PxX(p.x + c.width), PxY(p.y + c.height)};
}

// Drawn off screen and copied in one go, so the window never flickers. The
// surface starts as Picture1's background: a pixel that no control covers
// (rounding at some pixels per inch) shows that, never stale memory.
void Win32SplashView::Paint(HDC dc) {
  RECT client;
  GetClientRect(hwnd_, &client);
  HDC mem = CreateCompatibleDC(dc);
  HBITMAP surface = CreateCompatibleBitmap(dc, client.right, client.bottom);
  HGDIOBJ old = SelectObject(mem, surface);
  FillRectColor(mem, client, Color(splash::ControlOf(ControlId::kPicture1).back));
  for (const splash::Control& c : splash::kControls) {
    if (c.visible && c.kind != splash::Kind::kWindow) PaintControl(mem, c);
  }
  BitBlt(dc, 0, 0, client.right, client.bottom, mem, 0, 0, SRCCOPY);
  SelectObject(mem, old);
  DeleteObject(surface);
  DeleteDC(mem);
}

void Win32SplashView::PaintControl(HDC dc, const splash::Control& c) {
  const RECT area = ControlRect(c.id);
  switch (c.kind) {
    case splash::Kind::kPictureBox:
      FillRectColor(dc, area, Color(c.back));
      if (c.id == ControlId::kPicture1) PaintPicture(dc, area);
      if (c.id == splash::kProgressSurface && bar_fraction_ > 0.0) {
        RECT bar = area;
        bar.right = area.left + BarPixels();
        FillRectColor(dc, bar, static_cast<COLORREF>(bar_color_));
      }
      break;
    case splash::Kind::kLine: {
      HPEN pen = CreatePen(PS_SOLID, 1, Color(c.fore));
      HGDIOBJ old = SelectObject(dc, pen);
      MoveToEx(dc, area.left, area.top, nullptr);
      LineTo(dc, area.right, area.top);
      SelectObject(dc, old);
      DeleteObject(pen);
      break;
    }
    case splash::Kind::kLabel:
      PaintLabel(dc, c, area);
      break;
    default:
      break;
  }
}

// The image list's mask colour shows Picture1's background through. The
// picture is drawn at the size its pixels have on a 96 dpi screen (15 twips
// each), so it keeps its place in the layout at any pixels per inch.
void Win32SplashView::PaintPicture(HDC dc, const RECT& area) {
  if (picture_ == nullptr) return;
  BITMAP bm{};
  GetObjectW(picture_, sizeof bm, &bm);
  constexpr double kTwipsPerImagePixel = 15.0;
  const int width = PxX(bm.bmWidth * kTwipsPerImagePixel);
  const int height = PxY(bm.bmHeight * kTwipsPerImagePixel);
  HDC src = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(src, picture_);
  TransparentBlt(dc, area.left, area.top, width, height, src, 0, 0, bm.bmWidth, bm.bmHeight,
                 Color(splash::kImageMask));
  SelectObject(src, old);
  DeleteDC(src);
}

void Win32SplashView::PaintLabel(HDC dc, const splash::Control& c, const RECT& area) {
  const std::wstring& text = c.id == ControlId::kLblTitle ? title_ : status_;
  HGDIOBJ old = SelectObject(dc, LabelFont(c.id));
  SetBkMode(dc, c.transparent ? TRANSPARENT : OPAQUE);
  SetBkColor(dc, Color(c.back));
  SetTextColor(dc, Color(c.fore));
  RECT r = area;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
            DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
}

}  // namespace mb::win32
