// The pace a running transfer must keep, judged the same way by both
// download backends: no silence longer than the stall time-out, and at least
// the rate floor over every window (DownloadOptions). The clock is the
// caller's, so a backend asks for a verdict whenever it wakes up.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>

#include "platform/network.h"

namespace mb::platform {

class TransferPace {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Verdict { kKeepGoing, kStalled, kTooSlow };

  explicit TransferPace(const DownloadOptions& o)
      : stall_(o.stall_timeout_ms),
        window_(o.rate_window_ms),
        window_floor_(std::int64_t{o.min_rate_bytes_per_s} * o.rate_window_ms / 1000) {}

  // A connection stands (again for each request of a redirect chain): the
  // stall clock and the first window start here. Nothing is judged before.
  void Connected(Clock::time_point now) {
    last_byte_ = now;
    window_start_ = now;
    window_bytes_ = 0;
  }

  // Bytes of the answer arrived, headers or body.
  void Received(std::int64_t bytes, Clock::time_point now) {
    if (!last_byte_) Connected(now);
    last_byte_ = now;
    window_bytes_ += bytes;
  }

  // Judges the transfer at `now`; a window that brought enough ends here and
  // the next one starts.
  Verdict Judge(Clock::time_point now) {
    if (!last_byte_) return Verdict::kKeepGoing;
    if (stall_.count() > 0 && now - *last_byte_ >= stall_) return Verdict::kStalled;
    if (window_.count() > 0 && window_floor_ > 0 && now - window_start_ >= window_) {
      if (window_bytes_ < window_floor_) return Verdict::kTooSlow;
      window_start_ = now;
      window_bytes_ = 0;
    }
    return Verdict::kKeepGoing;
  }

  // How long a caller may sleep before the verdict can change (at most
  // `cap`, also when nothing is armed yet).
  std::chrono::milliseconds UntilDue(Clock::time_point now, std::chrono::milliseconds cap) const {
    if (!last_byte_) return cap;
    auto due = cap;
    if (stall_.count() > 0) due = std::min(due, Left(*last_byte_ + stall_, now));
    if (window_.count() > 0 && window_floor_ > 0)
      due = std::min(due, Left(window_start_ + window_, now));
    return due;
  }

 private:
  static std::chrono::milliseconds Left(Clock::time_point deadline, Clock::time_point now) {
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
  }

  std::chrono::milliseconds stall_;
  std::chrono::milliseconds window_;
  std::int64_t window_floor_;                   // bytes each window must bring
  std::optional<Clock::time_point> last_byte_;  // unset until connected
  Clock::time_point window_start_;
  std::int64_t window_bytes_ = 0;
};

}  // namespace mb::platform
