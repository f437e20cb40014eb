#include "progress/status_line.h"

#include "progress/progress_text.h"

namespace mb {

void RateMeter::Sample(double seconds, const TransferInfo& t) {
  if (t.file_index != file_index_ || t.received < last_bytes_) {
    file_index_ = t.file_index;
    start_seconds_ = seconds;
    start_bytes_ = t.received;
  }
  last_seconds_ = seconds;
  last_bytes_ = t.received;
}

std::optional<double> RateMeter::Rate() const {
  const double elapsed = last_seconds_ - start_seconds_;
  if (file_index_ < 0 || elapsed < 0.25) return std::nullopt;
  return static_cast<double>(last_bytes_ - start_bytes_) / elapsed;
}

namespace {

std::string Bytes(const TransferInfo& t) {
  std::string text = progress_text::FormatBytes(t.received);
  if (t.expected >= 0) text += " / " + progress_text::FormatBytes(t.expected);
  return text;
}

// Everything after the status text, each piece led by two spaces; no bar
// when bar_cells is 0.
std::string Details(const StatusLineContent& c, int bar_cells) {
  std::string out;
  if (c.fraction) {
    out += "  ";
    if (bar_cells > 0) out += progress_text::RenderBar(*c.fraction, bar_cells) + " ";
    out += progress_text::FormatPercent(*c.fraction);
  }
  if (c.transfer) {
    out += "  " + Bytes(*c.transfer);
    if (c.rate) out += "  " + progress_text::FormatRate(*c.rate);
    if (c.transfer->file_count > 0) {
      out += "  file " + std::to_string(c.transfer->file_index) + " of " +
             std::to_string(c.transfer->file_count);
    }
  }
  return out;
}

constexpr int kMinStatusColumns = 12;

}  // namespace

std::string ComposeStatusLine(const StatusLineContent& c, int columns) {
  const std::string status = progress_text::Printable(c.status);
  std::string details = Details(c, columns >= 70 ? 24 : 12);
  const int room_for_status = columns - progress_text::DisplayWidth(details);
  if (room_for_status < kMinStatusColumns) details = Details(c, 0);
  const int room = columns - progress_text::DisplayWidth(details);
  std::string line = progress_text::FitToWidth(status, room > 0 ? room : 0);
  return progress_text::FitToWidth(line + details, columns);
}

}  // namespace mb
