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

HFONT MakeFont(const splash::Font& f) {
  HDC dc = GetDC(nullptr);
  const int dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc != nullptr) ReleaseDC(nullptr, dc);
  const std::wstring face = Utf8ToWide(std::string(f.face));
  return CreateFontW(-MulDiv(f.points, dpi, 72), 0, 0, 0, f.weight, FALSE, FALSE, FALSE,
                     static_cast<DWORD>(f.charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face.c_str());
}

void FillRectColor(HDC dc, const RECT& r, COLORREF color) {
  HBRUSH brush = CreateSolidBrush(color);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

}  // namespace

Win32SplashView::Win32SplashView(HINSTANCE instance, double tpp_x, double tpp_y)
    : instance_(instance), tpp_x_(tpp_x), tpp_y_(tpp_y) {
  RegisterSplashClass(instance_, &Win32SplashView::WndProc);
  font_ = MakeFont(splash::ControlOf(ControlId::kLblTitle).font);
}

Win32SplashView::~Win32SplashView() {
  Unload();
  if (font_ != nullptr) DeleteObject(font_);
  if (picture_ != nullptr) DeleteObject(picture_);
}

int Win32SplashView::PxX(double twips) const {
  return static_cast<int>(std::lround(twips / tpp_x_));
}
int Win32SplashView::PxY(double twips) const {
  return static_cast<int>(std::lround(twips / tpp_y_));
}

// Borderless (no caption, no control box) with a thin frame, topmost once
// Form_Load asks for it, and off the taskbar like the main window.
HWND Win32SplashView::EnsureWindow() {
  if (hwnd_ != nullptr) return hwnd_;
  hwnd_ = CreateWindowExW(WS_EX_TOOLWINDOW, kSplashClass, L"", WS_POPUP | WS_BORDER, 0, 0,
                          PxX(splash::kWindowWidth), PxY(splash::kWindowHeight), nullptr, nullptr,
                          instance_, this);
  if (hwnd_ == nullptr) throw LastError();
  return hwnd_;
}

LRESULT CALLBACK Win32SplashView::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32SplashView*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
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
  if (hwnd_ != nullptr) InvalidateRect(hwnd_, nullptr, FALSE);
}

void Win32SplashView::SetStatus(const std::string& text) {
  status_ = Utf8ToWide(text);
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

RECT Win32SplashView::ControlRect(ControlId id) const {
  const splash::Control& c = splash::ControlOf(id);
  const splash::Point p = splash::ClientOrigin(id);
  return RECT{PxX(p.x), PxY(p.y), PxX(p.x + c.width), PxY(p.y + c.height)};
}

// Drawn off screen and copied in one go, so the window never flickers.
void Win32SplashView::Paint(HDC dc) {
  RECT client;
  GetClientRect(hwnd_, &client);
  HDC mem = CreateCompatibleDC(dc);
  HBITMAP surface = CreateCompatibleBitmap(dc, client.right, client.bottom);
  HGDIOBJ old = SelectObject(mem, surface);
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

// The image list's mask colour shows Picture1's background through.
void Win32SplashView::PaintPicture(HDC dc, const RECT& area) {
  if (picture_ == nullptr) return;
  BITMAP bm{};
  GetObjectW(picture_, sizeof bm, &bm);
  HDC src = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(src, picture_);
  TransparentBlt(dc, area.left, area.top, bm.bmWidth, bm.bmHeight, src, 0, 0, bm.bmWidth,
                 bm.bmHeight, Color(splash::kImageMask));
  SelectObject(src, old);
  DeleteDC(src);
}

void Win32SplashView::PaintLabel(HDC dc, const splash::Control& c, const RECT& area) {
  const std::wstring& text = c.id == ControlId::kLblTitle ? title_ : status_;
  HGDIOBJ old = SelectObject(dc, font_);
  SetBkMode(dc, c.transparent ? TRANSPARENT : OPAQUE);
  SetBkColor(dc, Color(c.back));
  SetTextColor(dc, Color(c.fore));
  RECT r = area;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
            DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
}

}  // namespace mb::win32
