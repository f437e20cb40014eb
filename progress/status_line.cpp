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

// What the line shows after the status text, richest first.
struct Layout {
  int bar_cells;  // 0: no bar (the percentage still shows)
  bool rate;
  bool file_count;
};
constexpr Layout kLayouts[] = {
    {24, true, true}, {12, true, true}, {12, false, true}, {12, false, false}};

// Everything after the status text, each piece led by two spaces.
std::string Details(const StatusLineContent& c, const Layout& l) {
  std::string out;
  if (c.fraction) {
    out += "  ";
    if (l.bar_cells > 0) out += progress_text::RenderBar(*c.fraction, l.bar_cells) + " ";
    out += progress_text::FormatPercent(*c.fraction);
  }
  if (c.transfer) {
    out += "  " + Bytes(*c.transfer);
    if (c.rate && l.rate) out += "  " + progress_text::FormatRate(*c.rate);
    if (c.transfer->file_count > 0 && l.file_count) {
      out += "  file " + std::to_string(c.transfer->file_index) + " of " +
             std::to_string(c.transfer->file_count);
    }
  }
  return out;
}

constexpr int kMinStatusColumns = 12;

// A terminal too narrow for the whole status text and a bar: the status is
// cut (not below kMinStatusColumns), then the bar goes.
std::string NarrowLine(const StatusLineContent& c, const std::string& status, int columns) {
  std::string details = Details(c, {columns >= 70 ? 24 : 12, true, true});
  const int room_for_status = columns - progress_text::DisplayWidth(details);
  if (room_for_status < kMinStatusColumns) details = Details(c, {0, true, true});
  const int room = columns - progress_text::DisplayWidth(details);
  std::string line = progress_text::FitToWidth(status, room > 0 ? room : 0);
  return progress_text::FitToWidth(line + details, columns);
}

}  // namespace

// The status text stays whole while the rate, then the file count, can make
// room for the bar.
std::string ComposeStatusLine(const StatusLineContent& c, int columns) {
  const std::string status = progress_text::Printable(c.status);
  const int width = progress_text::DisplayWidth(status);
  for (const Layout& l : kLayouts) {
    const std::string details = Details(c, l);
    if (width + progress_text::DisplayWidth(details) <= columns) return status + details;
  }
  return NarrowLine(c, status, columns);
}

}  // namespace mb
