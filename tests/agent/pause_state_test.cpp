#include "agent/pause_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "rules/fleet_settings.h"
#include "support/error.h"

namespace mb {
namespace {

class StringInput : public platform::InputFile {
 public:
  explicit StringInput(std::string s, std::size_t chunk = 3) : s_(std::move(s)), chunk_(chunk) {}
  std::size_t Read(char* buf, std::size_t n) override {
    const std::size_t k = std::min({n, chunk_, s_.size() - pos_});
    std::memcpy(buf, s_.data() + pos_, k);
    pos_ += k;
    return k;
  }

 private:
  std::string s_;
  std::size_t chunk_;
  std::size_t pos_ = 0;
};

std::string FirstLine(const std::string& bytes) {
  StringInput in(bytes);
  return std::string(FirstLineOf(ReadPauseFile(in, 1 << 20)));
}

std::optional<int> Poll(const std::string& bytes) { return PauseSettingsOf(bytes).poll_seconds; }

TEST(PauseFile, FirstLineEndsAtCarriageReturnOnly) {
  EXPECT_EQ(FirstLine("Y\r\nN\r\n"), "Y");
  EXPECT_EQ(FirstLine("Y\nN"), "Y\nN");  // a lone LF stays in the line
  EXPECT_EQ(FirstLine("Y\rN"), "Y");
  EXPECT_EQ(FirstLine("R"), "R");  // no line break at all
  EXPECT_EQ(FirstLine("\r\nR"), "");
}

TEST(PauseFile, EmptyFileHasNoFirstLine) {
  StringInput in("");
  try {
    ReadPauseFile(in, 100);
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrPastEndOfFile);
  }
}

TEST(PauseFile, LongLineIsCapped) {
  StringInput in(std::string(5000, 'x') + "N", 4096);
  EXPECT_EQ(FirstLineOf(ReadPauseFile(in, 1000)).size(), 1000u);
}

TEST(PauseFile, StateRules) {
  const ServerState N = ServerState::kOrg, Y = ServerState::kMirror, R = ServerState::kRefused;
  EXPECT_EQ(PauseStateForLine(""), N);
  EXPECT_EQ(PauseStateForLine("N"), N);
  EXPECT_EQ(PauseStateForLine("RN"), N);  // N wins over R
  EXPECT_EQ(PauseStateForLine("R"), R);
  EXPECT_EQ(PauseStateForLine("xRx"), R);
  EXPECT_EQ(PauseStateForLine("Y"), Y);
  EXPECT_EQ(PauseStateForLine("r"), Y);  // case-sensitive
  EXPECT_EQ(PauseStateForLine("Y\nN"), N);
  EXPECT_EQ(PauseStateForLine(std::string("\x01\xff", 2)), Y);
}

// Settings live only after the first CR: the first line reads as it always
// did, and a POLL an older agent would have read as part of it is no setting.
TEST(PauseFile, PollIsReadFromTheLinesAfterTheFirstCarriageReturn) {
  EXPECT_EQ(Poll("N\r\nPOLL=3600\r\n"), 3600);
  EXPECT_EQ(Poll("Y\rPOLL=60"), 60);
  EXPECT_EQ(Poll("N\r\nOTHER=1\r\n\r\n  poll = 86400 \nPOLL=5\r\n"), 86400);  // first wins
  EXPECT_EQ(Poll("N\nPOLL=60\r\n"), std::nullopt);  // a lone LF: still the first line
  EXPECT_EQ(Poll("POLL=60\r\nN"), std::nullopt);    // the first line holds no settings
  EXPECT_EQ(Poll("N"), std::nullopt);
  EXPECT_EQ(FirstLine("N\r\nPOLL=60\r\n"), "N");
  EXPECT_EQ(PauseStateForLine(FirstLine("Y\r\nPOLL=60\r\nN\r\n")), ServerState::kMirror);
}

TEST(PauseFile, PollOutOfRangeOrNotAWholeNumberIsIgnored) {
  for (const char* value :
       {"0", "86401", "-5", "+5", "1.5", "5s", "", "0x10", "99999999999999999999"})
    EXPECT_EQ(Poll(std::string("N\r\nPOLL=") + value + "\r\n"), std::nullopt) << value;
  EXPECT_EQ(Poll("N\r\nPOLL=x\r\nPOLL=60\r\n"), std::nullopt);  // the first POLL decides
  EXPECT_EQ(Poll("N\r\nPOLL=1\r\n"), 1);
  EXPECT_EQ(Poll("N\r\nPOLL=007\r\n"), 7);
}

TEST(PauseFile, PollIntervalSpreadsTenPercentEitherWay) {
  EXPECT_EQ(PollIntervalMs(3600, 0), 3240000);       // 0.9 S
  EXPECT_EQ(PollIntervalMs(3600, 720000), 3960000);  // 1.1 S
  EXPECT_EQ(PollIntervalMs(3600, 720001), 3240000);  // wraps, stays in range
  EXPECT_EQ(PollIntervalMs(1, 0), 900);
  EXPECT_EQ(PollIntervalMs(1, 100), 1000);
  EXPECT_LE(PollIntervalMs(fleet::kMaxPollSeconds, 0xFFFFFFFFu), 95040000);  // no overflow at a day
  EXPECT_GE(PollIntervalMs(fleet::kMaxPollSeconds, 0xFFFFFFFFu), 77760000);
}

}  // namespace
}  // namespace mb
