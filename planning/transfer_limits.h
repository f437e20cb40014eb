// Limits on what one download may bring. No real answer of the server comes
// near them; they keep a broken or hostile server from filling the disk or
// holding the agent forever.
#pragma once

#include <cstdint>

#include "platform/network.h"

namespace mb {

// Pause state, manifests and the update notice.
inline constexpr std::int64_t kTextTransferCap = std::int64_t{4} << 20;
// Files of a release.
inline constexpr std::int64_t kFileTransferCap = std::int64_t{4} << 30;

inline platform::DownloadOptions TextTransfer() {
  platform::DownloadOptions o;
  o.max_bytes = kTextTransferCap;
  return o;
}

inline platform::DownloadOptions FileTransfer(platform::DownloadObserver* observer) {
  platform::DownloadOptions o;
  o.max_bytes = kFileTransferCap;
  o.observer = observer;
  return o;
}

}  // namespace mb
