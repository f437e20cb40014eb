// What a request's Range and If-Range headers make of a 200 answer, decided
// as nginx decides it for a static file with `max_ranges 1` (the static
// export's setting), so both serve a release alike: one range is answered
// with 206 and Content-Range; several are answered with the whole body; a
// range that starts past the end, or a malformed one, gets 416. An If-Range
// that is not the answer's ETag (compared exactly, so a weak tag never
// matches) or its Last-Modified date asks for the whole body.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace mb::server {

struct ByteRange {
  enum class Kind { kWhole, kPart, kUnsatisfiable };
  Kind kind = Kind::kWhole;
  std::uint64_t first = 0;   // kPart: the first byte sent
  std::uint64_t length = 0;  // kPart: how many bytes are sent
};

// What the answer's validators are, for If-Range.
struct Validators {
  const std::string& etag;    // quoted, or empty
  std::time_t last_modified;  // 0: none
};

// range and if_range as the request sent them (nullptr when absent); size is
// the whole body's length.
ByteRange DecideRange(const char* range, const char* if_range, const Validators& answer,
                      std::uint64_t size);

// The Content-Range value: "bytes 3-9/10" for a part, "bytes */10" for 416.
std::string ContentRange(const ByteRange& range, std::uint64_t size);

}  // namespace mb::server
