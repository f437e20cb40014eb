#include "agent/pause_state.h"

#include <gtest/gtest.h>

#include <cstring>

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
  return ReadFirstLine(in, 1 << 20);
}

TEST(PauseFile, FirstLineEndsAtCarriageReturnOnly) {
  EXPECT_EQ(FirstLine("Y\r\nN\r\n"), "Y");
  EXPECT_EQ(FirstLine("Y\nN"), "Y\nN");  // a lone LF stays in the line
  EXPECT_EQ(FirstLine("Y\rN"), "Y");
  EXPECT_EQ(FirstLine("R"), "R");        // no line break at all
  EXPECT_EQ(FirstLine("\r\nR"), "");
}

TEST(PauseFile, EmptyFileHasNoFirstLine) {
  StringInput in("");
  try {
    ReadFirstLine(in, 100);
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrPastEndOfFile);
  }
}

TEST(PauseFile, LongLineIsCapped) {
  StringInput in(std::string(5000, 'x') + "N", 4096);
  EXPECT_EQ(ReadFirstLine(in, 1000).size(), 1000u);
}

TEST(PauseFile, StateRules) {
  EXPECT_EQ(PauseStateForLine(""), "N");
  EXPECT_EQ(PauseStateForLine("N"), "N");
  EXPECT_EQ(PauseStateForLine("RN"), "N");  // N wins over R
  EXPECT_EQ(PauseStateForLine("R"), "R");
  EXPECT_EQ(PauseStateForLine("xRx"), "R");
  EXPECT_EQ(PauseStateForLine("Y"), "Y");
  EXPECT_EQ(PauseStateForLine("r"), "Y");   // case-sensitive
  EXPECT_EQ(PauseStateForLine("Y\nN"), "N");
  EXPECT_EQ(PauseStateForLine(std::string("\x01\xff", 2)), "Y");
}

}  // namespace
}  // namespace mb
