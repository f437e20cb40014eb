// The range decision without a socket: what nginx 1.22 answers for a static
// file of 10 bytes with max_ranges 1 (taken from nginx itself; the static
// export test compares the two servers over the wire as well).
#include "server/byte_range.h"

#include <gtest/gtest.h>

namespace mb::server {
namespace {

using Kind = ByteRange::Kind;

struct Case {
  const char* range;
  Kind kind;
  std::uint64_t first = 0;
  std::uint64_t length = 0;
};

const std::string kEtag = "\"abc\"";
constexpr std::time_t kModified = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT

ByteRange Decide(const char* range, const char* if_range = nullptr, std::uint64_t size = 10) {
  return DecideRange(range, if_range, {kEtag, kModified}, size);
}

TEST(ByteRange, OneRangeIsAPartSeveralTheWholeAndBadOnes416) {
  const Case cases[] = {
      {"bytes=3-", Kind::kPart, 3, 7},
      {"bytes=3-5", Kind::kPart, 3, 3},
      {"bytes=3-100", Kind::kPart, 3, 7},  // clipped to the end
      {"bytes=9-9", Kind::kPart, 9, 1},
      {"bytes=-4", Kind::kPart, 6, 4},
      {"bytes=-20", Kind::kPart, 0, 10},
      {"Bytes= 3 - 5 ", Kind::kPart, 3, 3},  // unit in any case, spaces allowed
      {"bytes=00003-", Kind::kPart, 3, 7},
      {"bytes=20-30,3-5", Kind::kPart, 3, 3},  // an unsatisfiable one is skipped
      {"bytes=0-1,4-5", Kind::kWhole},         // several ranges: the whole body
      {"bytes=0-", Kind::kPart, 0, 10},
      {nullptr, Kind::kWhole},
      {"items=1-", Kind::kWhole},  // another unit
      {"bytes=", Kind::kWhole},    // nothing after the unit
      {"bytes=10-", Kind::kUnsatisfiable},
      {"bytes=11-20", Kind::kUnsatisfiable},
      {"bytes=5-3", Kind::kUnsatisfiable},
      {"bytes=-0", Kind::kUnsatisfiable},
      {"bytes=abc", Kind::kUnsatisfiable},
      {"bytes=3-,", Kind::kUnsatisfiable},
      {"bytes=,3-5", Kind::kUnsatisfiable},
      {"bytes=3-5x", Kind::kUnsatisfiable},
      {"bytes=99999999999999999999-", Kind::kUnsatisfiable},  // over the largest offset
  };
  for (const Case& c : cases) {
    const ByteRange r = Decide(c.range);
    const std::string label = c.range ? c.range : "(none)";
    EXPECT_EQ(r.kind, c.kind) << label;
    if (c.kind != Kind::kPart) continue;
    EXPECT_EQ(r.first, c.first) << label;
    EXPECT_EQ(r.length, c.length) << label;
  }
}

TEST(ByteRange, EmptyBodyAndContentRange) {
  EXPECT_EQ(Decide("bytes=0-", nullptr, 0).kind, Kind::kWhole);
  EXPECT_EQ(Decide("bytes=-5", nullptr, 0).kind, Kind::kWhole);
  EXPECT_EQ(Decide("bytes=1-", nullptr, 0).kind, Kind::kUnsatisfiable);
  EXPECT_EQ(ContentRange(Decide("bytes=3-"), 10), "bytes 3-9/10");
  EXPECT_EQ(ContentRange(Decide("bytes=-1"), 10), "bytes 9-9/10");
  EXPECT_EQ(ContentRange(Decide("bytes=10-"), 10), "bytes */10");
}

TEST(ByteRange, IfRangeMustBeTheEtagOrTheDateExactly) {
  EXPECT_EQ(Decide("bytes=3-", "\"abc\"").kind, Kind::kPart);
  EXPECT_EQ(Decide("bytes=3-", "Sun, 06 Nov 1994 08:49:37 GMT").kind, Kind::kPart);
  EXPECT_EQ(Decide("bytes=3-", "\"abd\"").kind, Kind::kWhole);
  EXPECT_EQ(Decide("bytes=3-", "W/\"abc\"").kind, Kind::kWhole);  // weak never matches
  EXPECT_EQ(Decide("bytes=3-", "Sun, 06 Nov 1994 08:49:38 GMT").kind, Kind::kWhole);
  EXPECT_EQ(Decide("bytes=3-", "yesterday").kind, Kind::kWhole);
  // A changed file is sent whole, even where the range would not fit it.
  EXPECT_EQ(Decide("bytes=99-", "\"old\"").kind, Kind::kWhole);
  const std::string no_etag;
  EXPECT_EQ(DecideRange("bytes=3-", "\"abc\"", {no_etag, kModified}, 10).kind, Kind::kWhole);
  EXPECT_EQ(DecideRange("bytes=3-", "Sun, 06 Nov 1994 08:49:37 GMT", {kEtag, 0}, 10).kind,
            Kind::kWhole);
}

}  // namespace
}  // namespace mb::server
