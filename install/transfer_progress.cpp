#include "install/transfer_progress.h"

#include <limits>

namespace mb {

namespace {

// Max and Val are 32-bit: sizes beyond that are shown in KiB.
std::int32_t Scaled(std::int64_t bytes, bool in_kib) {
  const std::int64_t v = in_kib ? bytes / 1024 : bytes;
  return static_cast<std::int32_t>(std::min<std::int64_t>(v, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

TransferProgress::TransferProgress(frmSplash& splash, platform::WindowSystem& windows,
                                   int file_index, int file_count)
    : splash_(splash), windows_(windows), file_index_(file_index), file_count_(file_count) {
  // A new file starts with an empty bar, also after an earlier pass completed.
  splash_.Complete(false);
  splash_.Max(0);
  splash_.Val(0);
  splash_.SetTransfer(file_index_, file_count_, 0, -1);
}

void TransferProgress::OnProgress(std::int64_t expected, std::int64_t received) {
  const bool in_kib = expected > std::numeric_limits<std::int32_t>::max();
  splash_.Max(expected > 0 ? Scaled(expected, in_kib) : 0);
  splash_.Val(Scaled(received, in_kib));
  splash_.SetTransfer(file_index_, file_count_, received, expected);
  windows_.PumpMessages();
}

}  // namespace mb
