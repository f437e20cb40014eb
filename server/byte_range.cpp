#include "server/byte_range.h"

#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "rules/ascii.h"
#include "server/http_answer.h"

namespace mb::server {
namespace {

using Offset = std::int64_t;  // nginx reckons in off_t

// The header's text after "bytes=", read the way nginx reads it: a cursor
// that sees '\0' at the end.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}
  char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  char Take() {
    const char c = Peek();
    ++pos_;
    return c;
  }
  void SkipSpaces() {
    while (Peek() == ' ') ++pos_;
  }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  // Digits into a number; nothing when it overflows.
  std::optional<Offset> Number() {
    Offset n = 0;
    while (IsDigit(Peek())) {
      const int digit = Take() - '0';
      if (n > (std::numeric_limits<Offset>::max() - digit) / 10) return std::nullopt;
      n = n * 10 + digit;
    }
    return n;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

struct Span {
  Offset start;
  Offset end;  // one past the last byte
};

enum class Parse { kRanges, kWhole, kUnsatisfiable };

// One "start-end", "start-" or "-suffix" at the cursor, clipped to size.
std::optional<Span> ParseOne(Cursor& c, Offset size) {
  Offset start = 0;
  bool suffix = false;
  c.SkipSpaces();
  if (c.Peek() != '-') {
    if (!Cursor::IsDigit(c.Peek())) return std::nullopt;
    const std::optional<Offset> n = c.Number();
    if (!n) return std::nullopt;
    start = *n;
    c.SkipSpaces();
    if (c.Take() != '-') return std::nullopt;
    c.SkipSpaces();
    if (c.Peek() == ',' || c.Peek() == '\0') return Span{start, size};
  } else {
    suffix = true;
    c.Take();
  }
  if (!Cursor::IsDigit(c.Peek())) return std::nullopt;
  const std::optional<Offset> n = c.Number();
  if (!n) return std::nullopt;
  Offset end = *n;
  c.SkipSpaces();
  if (c.Peek() != ',' && c.Peek() != '\0') return std::nullopt;
  if (suffix) {
    start = end < size ? size - end : 0;
    end = size - 1;
  }
  return Span{start, end >= size ? size : end + 1};
}

// The ranges asked for. More than one, or a first range that starts at 0 of
// an empty body, is answered with the whole body, as nginx does.
Parse ParseRanges(std::string_view ranges, Offset size, Span* only) {
  Cursor c(ranges);
  std::vector<Span> kept;
  for (;;) {
    const std::optional<Span> span = ParseOne(c, size);
    if (!span) return Parse::kUnsatisfiable;
    if (span->start < span->end) {
      kept.push_back(*span);
      if (kept.size() > 1) return Parse::kWhole;
    } else if (span->start == 0) {
      return Parse::kWhole;
    }
    if (c.Take() != ',') break;
  }
  if (kept.empty()) return Parse::kUnsatisfiable;
  *only = kept.front();
  return Parse::kRanges;
}

bool StartsWithBytes(std::string_view value) {
  constexpr std::string_view kUnit = "bytes=";
  if (value.size() <= kUnit.size()) return false;
  for (std::size_t i = 0; i < kUnit.size(); ++i) {
    const char c = value[i];
    if (ascii::ToLower(c) != kUnit[i]) return false;
  }
  return true;
}

// If-Range holds when it is the answer's ETag exactly or its date.
bool IfRangeHolds(std::string_view if_range, const Validators& answer) {
  if (if_range.size() >= 2 && if_range.back() == '"')
    return !answer.etag.empty() && if_range == answer.etag;
  if (answer.last_modified == 0) return false;
  const std::optional<std::time_t> date = ParseHttpDate(std::string(if_range));
  return date && *date == answer.last_modified;
}

}  // namespace

ByteRange DecideRange(const char* range, const char* if_range, const Validators& answer,
                      std::uint64_t size) {
  if (range == nullptr || !StartsWithBytes(range)) return {};
  if (size > static_cast<std::uint64_t>(std::numeric_limits<Offset>::max())) return {};
  if (if_range != nullptr && !IfRangeHolds(if_range, answer)) return {};
  Span span{};
  switch (ParseRanges(std::string_view(range).substr(6), static_cast<Offset>(size), &span)) {
    case Parse::kWhole:
      return {};
    case Parse::kUnsatisfiable:
      return {ByteRange::Kind::kUnsatisfiable, 0, 0};
    case Parse::kRanges:
      break;
  }
  return {ByteRange::Kind::kPart, static_cast<std::uint64_t>(span.start),
          static_cast<std::uint64_t>(span.end - span.start)};
}

std::string ContentRange(const ByteRange& range, std::uint64_t size) {
  const std::string total = "/" + std::to_string(size);
  if (range.kind != ByteRange::Kind::kPart) return "bytes *" + total;
  return "bytes " + std::to_string(range.first) + "-" +
         std::to_string(range.first + range.length - 1) + total;
}

}  // namespace mb::server
