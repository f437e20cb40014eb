// The decisions both download backends share when a cut transfer goes on:
// what is asked for, and when an answer may be appended to the kept bytes.
#include "platform/transfer_resume.h"

#include <gtest/gtest.h>

namespace mb::platform {
namespace {

using Plan = BodyStart::Plan;

PartialTransfer Kept(std::int64_t size, std::string validator = "\"v1\"",
                     std::int64_t total = 100) {
  PartialTransfer p;
  p.path = "C:\\x";
  p.size = size;
  p.validator = std::move(validator);
  p.total = total;
  return p;
}

AnswerHeaders Answer(long status, std::string content_range, std::string etag = "\"v1\"") {
  AnswerHeaders a;
  a.status = status;
  a.etag = std::move(etag);
  a.content_range = std::move(content_range);
  return a;
}

TEST(TransferResume, AsksForTheRestOnlyOfBytesItCanVouchFor) {
  const std::optional<RangeRequest> r = RangeRequestFor(Kept(40));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->range, "Range: bytes=40-");
  EXPECT_EQ(r->if_range, "If-Range: \"v1\"");
  EXPECT_FALSE(RangeRequestFor(Kept(0)));                // nothing kept
  EXPECT_FALSE(RangeRequestFor(Kept(40, "")));           // no validator: never spliced
  EXPECT_FALSE(RangeRequestFor(Kept(100)));              // all there: ask again whole
  EXPECT_TRUE(RangeRequestFor(Kept(40, "\"v1\"", -1)));  // a length never told
  // A weak tag cannot be sent in If-Range; the date can.
  EXPECT_EQ(ValidatorOf("W/\"x\"", "Sun, 06 Nov 1994 08:49:37 GMT"),
            "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(ValidatorOf("\"x\"", "Sun, 06 Nov 1994 08:49:37 GMT"), "\"x\"");
  EXPECT_EQ(ValidatorOf("W/\"x\"", ""), "");
}

TEST(TransferResume, AppendsOnlyTheRestOfTheSameVersion) {
  const PartialTransfer kept = Kept(40);
  BodyStart s = JudgeAnswer(kept, true, Answer(206, "bytes 40-99/100"));
  EXPECT_EQ(s.plan, Plan::kAppend);
  EXPECT_EQ(s.offset, 40);
  EXPECT_EQ(s.total, 100);
  EXPECT_EQ(s.validator, "\"v1\"");
  // A date kept, the same date answered.
  AnswerHeaders dated = Answer(206, "bytes 40-99/100", "");
  dated.last_modified = "Sun, 06 Nov 1994 08:49:37 GMT";
  EXPECT_EQ(JudgeAnswer(Kept(40, dated.last_modified), true, dated).plan, Plan::kAppend);
  // Anything else that says 206 is refused, with a reason.
  const AnswerHeaders refused[] = {
      Answer(206, "bytes 41-99/100"),              // not where the kept bytes end
      Answer(206, "bytes 40-98/100"),              // short of the end
      Answer(206, "bytes 40-119/120"),             // another length: another file
      Answer(206, "bytes 40-99/*"),                // a length it will not tell
      Answer(206, "bytes 40-99/100", "\"v2\""),    // another version
      Answer(206, "bytes 40-99/100", "W/\"v1\""),  // a weak tag vouches for nothing
      Answer(206, ""),                             // no Content-Range at all
      Answer(206, "bytes 40-99/99"),               // past its own end
      Answer(206, "items 40-99/100"),
      Answer(206, "bytes 99999999999999999999-1/2"),
  };
  for (const AnswerHeaders& a : refused) {
    s = JudgeAnswer(kept, true, a);
    EXPECT_EQ(s.plan, Plan::kRefuse) << a.content_range << " " << a.etag;
    EXPECT_FALSE(s.reason.empty());
  }
  // A part that was not asked for.
  EXPECT_EQ(JudgeAnswer(Kept(0), false, Answer(206, "bytes 0-99/100")).plan, Plan::kRefuse);
}

TEST(TransferResume, AWholeAnswerStartsTheFileOver) {
  AnswerHeaders whole = Answer(200, "", "\"v2\"");
  whole.content_length = 120;
  // The file changed (If-Range did not hold), or the server ignores ranges.
  const BodyStart s = JudgeAnswer(Kept(40), true, whole);
  EXPECT_EQ(s.plan, Plan::kWhole);
  EXPECT_EQ(s.offset, 0);
  EXPECT_EQ(s.total, 120);
  EXPECT_EQ(s.validator, "\"v2\"");
  // Without a validator the bytes can be stored, never continued.
  EXPECT_EQ(JudgeAnswer(Kept(0), false, Answer(200, "", "")).validator, "");
}

TEST(TransferResume, ContentRangeIsReadStrictly) {
  const std::optional<ContentRangeValue> v = ParseContentRange("bytes 0-0/1");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->first, 0);
  EXPECT_EQ(v->last, 0);
  EXPECT_EQ(v->total, 1);
  EXPECT_EQ(ParseContentRange("bytes 5-9/*")->total, -1);
  for (const char* bad : {"bytes 9-5/10", "bytes -5/10", "bytes 5-/10", "bytes 5-9", "bytes */10",
                          "bytes 5-9/10x", " bytes 5-9/10", "bytes 5 - 9/10"}) {
    EXPECT_FALSE(ParseContentRange(bad)) << bad;
  }
}

}  // namespace
}  // namespace mb::platform
