// The progress window: a portable model of the window and its controls,
// drawn by a platform view. One instance per process (the agent object owns
// it and makes it on first use); it stays shown across runs and is unloaded
// before the hand-off to the external updater.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/window_system.h"

namespace mb {

class frmSplash {
 public:
  explicit frmSplash(platform::WindowSystem& windows);
  ~frmSplash();
  frmSplash(const frmSplash&) = delete;
  frmSplash& operator=(const frmSplash&) = delete;

  // Window operations. The first Show loads the window (Form_Load places it
  // above the taskbar and makes it topmost).
  void Show();
  void Refresh();
  void Unload();
  bool Loaded() const { return view_ != nullptr; }

  // Controls the agent sets directly.
  void SetPicture(int image_index);                 // Picture1 <- ImageList1(i)
  void SetTitleCaption(const std::string& text);    // lblTitle
  void SetCurrentCaption(const std::string& text);  // lblCurrent
  const std::string& TitleCaption() const { return title_; }
  const std::string& CurrentCaption() const { return current_; }
  int Picture() const { return picture_; }

  // Progress display, drawn on Picture3 (the status panel) behind the status
  // line: a bar from the left edge to width / Max * Val, the whole width when
  // Complete; nothing while Max is 0. The downloads feed it (Max = expected
  // bytes, Val = bytes so far) and a component pass sets Complete at its end.
  // Writing Val or Complete draws; Min and Max only store.
  void Complete(bool blnVal);
  void Min(std::int32_t lngVal) { min_ = lngVal; }
  void Max(std::int32_t lngVal) { max_ = lngVal; }
  void Val(std::int32_t lngVal);
  bool Complete() const { return complete_; }
  std::int32_t Min() const { return min_; }
  std::int32_t Max() const { return max_; }
  std::int32_t Val() const { return val_; }
  void Draw();

  // Transfer detail for text front ends (file k of n, bytes).
  void SetTransfer(int file_index, int file_count, std::int64_t received, std::int64_t expected);

  // Window position and size in twips (Form_Load writes Top, then Left).
  std::int32_t Left() const { return left_; }
  std::int32_t Top() const { return top_; }
  std::int32_t Width() const;
  std::int32_t Height() const;
  void SetLeft(std::int32_t v);
  void SetTop(std::int32_t v);

 private:
  void Form_Load();
  platform::SplashView& View();
  double FilledWidth(double surface_width) const;

  platform::WindowSystem& windows_;
  std::unique_ptr<platform::SplashView> view_;
  std::string title_;
  std::string current_ = "Label1";
  int picture_ = 1;
  bool complete_ = false;
  std::int32_t min_ = 0, max_ = 0, val_ = 0;
  std::int32_t left_ = 0, top_ = 0;
};

}  // namespace mb
