// The one status line of a text-mode progress display: the status text,
// then - once a transfer or a bar is known - the bar, percentage, bytes,
// rate and "file k of n", like curl or pip show them, fitted to the
// terminal's width.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mb {

struct TransferInfo {
  int file_index = 0;  // 1-based; 0 = unknown
  int file_count = 0;
  std::int64_t received = 0;
  std::int64_t expected = -1;  // negative = unknown
};

// Average transfer rate of the current file: restarts when another file
// begins or the count goes back.
class RateMeter {
 public:
  void Sample(double seconds, const TransferInfo& t);
  // Bytes per second, or nothing before a quarter second has passed.
  std::optional<double> Rate() const;

 private:
  int file_index_ = -1;
  double start_seconds_ = 0, last_seconds_ = 0;
  std::int64_t start_bytes_ = 0, last_bytes_ = 0;
};

struct StatusLineContent {
  std::string status;
  std::optional<double> fraction;  // the painted share of the bar
  std::optional<TransferInfo> transfer;
  std::optional<double> rate;
};

// The line, at most `columns` wide. The status text and the bar stay whole
// while dropping the rate, then the file count, makes room for them; on a
// terminal too narrow even so, the status text is cut, then the bar goes.
std::string ComposeStatusLine(const StatusLineContent& c, int columns);

}  // namespace mb
