// Continuing a download that was cut, decided the same way by both download
// backends: what the next request asks for (Range and If-Range after the
// bytes already kept), and whether the answer continues exactly those bytes.
// A 206 is appended only when it starts where the kept bytes end, belongs to
// the same whole length and carries the same validator; a 200 (the file
// changed, or the server ignores ranges) starts the file over; anything else
// is refused, and the kept bytes with it. So a file is never made of two
// versions. The backends only send the headers and report what came back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mb::platform {

// What the body's first byte starts, once the final answer's headers are in.
struct BodyStart {
  enum class Plan { kWhole, kAppend, kRefuse };
  Plan plan = Plan::kWhole;
  std::int64_t offset = 0;  // kAppend: the bytes already kept, where the body goes on
  std::int64_t total = -1;  // the whole file's length, -1 when the answer does not say
  std::string validator;    // the answer's: empty when it cannot be continued later
  std::string reason;       // kRefuse: why, for a person to read
};

// Told before the body's first byte goes to the partial file, so the caller
// can note what the file will hold; false stops the transfer (a local failure).
class PartialKeeper {
 public:
  virtual ~PartialKeeper() = default;
  virtual bool Keep(const BodyStart& start) = 0;
};

// A download that keeps its bytes when it is cut (DownloadOptions::partial):
// the body goes to `path`, continuing what is there when the answer allows,
// and is renamed over the destination once complete. On a failure after the
// body began, the bytes stay at `path` when the answer had a validator, and
// are removed when it had none or was refused.
struct PartialTransfer {
  std::string path;         // agent path
  std::int64_t size = 0;    // bytes kept there by an earlier attempt
  std::string validator;    // of the answer they came from
  std::int64_t total = -1;  // that answer's whole length
  PartialKeeper* keeper = nullptr;
};

// The answer's validator as If-Range can send it back: a strong ETag, else
// Last-Modified; empty when there is neither.
inline std::string ValidatorOf(std::string_view etag, std::string_view last_modified) {
  if (!etag.empty() && etag.substr(0, 2) != "W/") return std::string(etag);
  return std::string(last_modified);
}

// Whether the kept bytes can be continued: some are there, known to the
// answer's validator, and not yet the whole file.
inline bool CanContinue(const PartialTransfer& p) {
  return p.size > 0 && !p.validator.empty() && (p.total < 0 || p.size < p.total);
}

// The request header lines ("Name: value", no line end) that ask for the
// rest; none when the kept bytes cannot be continued.
struct RangeRequest {
  std::string range;
  std::string if_range;
};
inline std::optional<RangeRequest> RangeRequestFor(const PartialTransfer& p) {
  if (!CanContinue(p)) return std::nullopt;
  return RangeRequest{"Range: bytes=" + std::to_string(p.size) + "-", "If-Range: " + p.validator};
}

// "bytes FIRST-LAST/TOTAL" (TOTAL may be "*").
struct ContentRangeValue {
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::int64_t total = -1;
};

namespace resume_detail {

inline std::optional<std::int64_t> Number(std::string_view& s) {
  std::int64_t n = 0;
  std::size_t i = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    if (n > (INT64_MAX - (s[i] - '0')) / 10) return std::nullopt;
    n = n * 10 + (s[i] - '0');
  }
  if (i == 0) return std::nullopt;
  s.remove_prefix(i);
  return n;
}

inline bool Take(std::string_view& s, std::string_view what) {
  if (s.substr(0, what.size()) != what) return false;
  s.remove_prefix(what.size());
  return true;
}

}  // namespace resume_detail

inline std::optional<ContentRangeValue> ParseContentRange(std::string_view s) {
  using resume_detail::Number;
  using resume_detail::Take;
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  ContentRangeValue v;
  if (!Take(s, "bytes ")) return std::nullopt;
  const auto first = Number(s);
  if (!first || !Take(s, "-")) return std::nullopt;
  const auto last = Number(s);
  if (!last || !Take(s, "/") || *last < *first) return std::nullopt;
  v.first = *first;
  v.last = *last;
  if (Take(s, "*")) return s.empty() ? std::optional(v) : std::nullopt;
  const auto total = Number(s);
  if (!total || !s.empty() || *total <= *last) return std::nullopt;
  v.total = *total;
  return v;
}

// The final answer's headers, as the backend read them.
struct AnswerHeaders {
  long status = 0;
  std::string etag;
  std::string last_modified;
  std::string content_range;
  std::int64_t content_length = -1;
};

// Where the answer's body goes, given what was kept and whether a range was
// asked for.
inline BodyStart JudgeAnswer(const PartialTransfer& kept, bool asked_range,
                             const AnswerHeaders& got) {
  BodyStart start;
  start.validator = ValidatorOf(got.etag, got.last_modified);
  if (got.status != 206) {
    start.total = got.content_length;  // a whole answer: the file from its start
    return start;
  }
  start.plan = BodyStart::Plan::kRefuse;
  const std::optional<ContentRangeValue> range = ParseContentRange(got.content_range);
  if (!asked_range) {
    start.reason = "the server sent part of a file that was asked for whole";
  } else if (!range || range->first != kept.size || range->total < 0 ||
             range->last != range->total - 1) {
    start.reason = "the server sent another part of the file than the rest after " +
                   std::to_string(kept.size) + " bytes (" + got.content_range + ")";
  } else if ((kept.total >= 0 && range->total != kept.total) || start.validator != kept.validator) {
    start.reason = "the server sent the rest of another version of the file";
  } else {
    start.plan = BodyStart::Plan::kAppend;
    start.offset = kept.size;
    start.total = range->total;
  }
  return start;
}

}  // namespace mb::platform
