// Feeds the progress window from a running download: Max is the size the
// server announced, Val the bytes so far; the window system keeps pumping
// so the window stays responsive during long transfers.
#pragma once

#include <cstdint>

#include "platform/network.h"
#include "platform/window_system.h"
#include "progress/frm_splash.h"

namespace mb {

class TransferProgress : public platform::DownloadObserver {
 public:
  TransferProgress(frmSplash& splash, platform::WindowSystem& windows, int file_index,
                   int file_count);
  void OnProgress(std::int64_t expected, std::int64_t received) override;

 private:
  frmSplash& splash_;
  platform::WindowSystem& windows_;
  int file_index_;
  int file_count_;
};

}  // namespace mb
