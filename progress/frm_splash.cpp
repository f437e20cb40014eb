#include "progress/frm_splash.h"

#include <stdexcept>

#include "agent/bas_win_api.h"
#include "progress/splash_layout.h"

namespace mb {

frmSplash::frmSplash(platform::WindowSystem& windows) : windows_(windows) {}

frmSplash::~frmSplash() = default;

// Loading makes the view, hands it what the controls already hold (set
// while the window was not loaded) and runs Form_Load; showing an already
// shown window only brings it forward.
void frmSplash::Show() {
  if (!view_) {
    view_ = windows_.CreateSplashView();
    if (!view_) throw std::runtime_error("the window system made no progress window");
    view_->SetPicture(picture_);
    view_->SetTitle(title_);
    view_->SetStatus(current_);
    Form_Load();
  }
  view_->Show();
}

void frmSplash::Refresh() {
  if (view_) view_->Refresh();
}

// The controls keep their values, so a later Show brings back the same
// content; only the window itself goes.
void frmSplash::Unload() {
  if (!view_) return;
  std::unique_ptr<platform::SplashView> view = std::move(view_);
  view->Unload();
}

void frmSplash::Form_Load() {
  basWinAPI::PlaceAboveTaskbar(windows_, *this);
  SetTop(top_ - 100);
  View().SetTopmost();
}

platform::SplashView& frmSplash::View() {
  if (!view_) throw std::logic_error("frmSplash is not loaded");
  return *view_;
}

void frmSplash::SetPicture(int image_index) {
  if (image_index < 1 || image_index > splash::kImageCount) {
    throw std::out_of_range("ImageList1: index out of bounds");
  }
  picture_ = image_index;
  if (view_) view_->SetPicture(picture_);
}

void frmSplash::SetTitleCaption(const std::string& text) {
  title_ = text;
  if (view_) view_->SetTitle(title_);
}

void frmSplash::SetCurrentCaption(const std::string& text) {
  current_ = text;
  if (view_) view_->SetStatus(current_);
}

void frmSplash::Complete(bool blnVal) {
  complete_ = blnVal;
  Draw();
}

void frmSplash::Val(std::int32_t lngVal) {
  val_ = lngVal;
  Draw();
}

double frmSplash::FilledWidth(double surface_width) const {
  if (complete_) return surface_width;
  const double filled = surface_width / max_ * val_;
  // What shows of a box reaching past either edge of the surface.
  if (!(filled > 0.0)) return 0.0;
  return filled < surface_width ? filled : surface_width;
}

// Every failure of the drawing is ignored; without a Max nothing is drawn.
void frmSplash::Draw() {
  if (max_ == 0 || !view_) return;
  try {
    const double width = splash::kSurfaceWidth;
    view_->PaintBar(FilledWidth(width), width, splash::kBarColor);
  } catch (...) {
  }
}

void frmSplash::SetTransfer(int file_index, int file_count,
                            std::int64_t received, std::int64_t expected) {
  if (!view_) return;
  try {
    view_->SetTransfer(file_index, file_count, received, expected);
  } catch (...) {
  }
}

std::int32_t frmSplash::Width() const { return splash::kWindowWidth; }
std::int32_t frmSplash::Height() const { return splash::kWindowHeight; }

void frmSplash::SetLeft(std::int32_t v) {
  left_ = v;
  if (view_) view_->Move(left_, top_);
}

void frmSplash::SetTop(std::int32_t v) {
  top_ = v;
  if (view_) view_->Move(left_, top_);
}

}  // namespace mb
