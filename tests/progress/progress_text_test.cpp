#include "progress/progress_text.h"

#include <gtest/gtest.h>

#include "progress/status_line.h"

namespace mb {
namespace {

using namespace progress_text;

TEST(ProgressText, BytesInBinaryUnits) {
  EXPECT_EQ(FormatBytes(0), "0 B");
  EXPECT_EQ(FormatBytes(1023), "1023 B");
  EXPECT_EQ(FormatBytes(1024), "1.0 KiB");
  EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
  EXPECT_EQ(FormatBytes(1024 * 1024 - 1), "1.0 MiB");  // never "1024.0 KiB"
  EXPECT_EQ(FormatBytes(5LL * 1024 * 1024 * 1024), "5.0 GiB");
  EXPECT_EQ(FormatRate(2048), "2.0 KiB/s");
  EXPECT_EQ(FormatRate(0), "0 B/s");
}

TEST(ProgressText, BarAndPercentClampAndRoundDown) {
  EXPECT_EQ(RenderBar(0.5, 10), "[#####-----]");
  EXPECT_EQ(RenderBar(-1, 4), "[----]");
  EXPECT_EQ(RenderBar(7, 4), "[####]");
  EXPECT_EQ(FormatPercent(0.999), "99%");
  EXPECT_EQ(FormatPercent(1.0), "100%");
  EXPECT_EQ(FormatPercent(2.0), "100%");
}

TEST(ProgressText, LinesBreakAtCrLfCrAndLf) {
  const std::vector<std::string> expected{"one", "", "three", "four", "five"};
  EXPECT_EQ(SplitLines("one\r\n\r\nthree\rfour\nfive"), expected);
  EXPECT_EQ(SplitLines(""), std::vector<std::string>{""});
}

TEST(ProgressText, ControlCharactersBecomeSpaces) {
  EXPECT_EQ(Printable("a\x1b[2Jb\tc\x7f"), "a [2Jb c ");
  EXPECT_EQ(Printable("x\xC2\x9B" "31m"), "x 31m");  // C1 CSI
  EXPECT_EQ(Printable("한글 \xC2\xA9"), "한글 \xC2\xA9");
}

TEST(ProgressText, WideCharactersTakeTwoColumns) {
  EXPECT_EQ(DisplayWidth("abc"), 3);
  EXPECT_EQ(DisplayWidth("파일"), 4);
  EXPECT_EQ(FitToWidth("파일abc", 3), "파");
  EXPECT_EQ(FitToWidth("파일abc", 5), "파일a");
  EXPECT_EQ(FitToWidth("abc", 10), "abc");
  EXPECT_EQ(FitToWidth("abc", 0), "");
}

TEST(StatusLine, ShowsBarBytesRateAndFileCount) {
  StatusLineContent c{"Downloading files..", 0.5, TransferInfo{2, 5, 2048, 4096}, 1024.0};
  EXPECT_EQ(ComposeStatusLine(c, 100),
            "Downloading files..  [############------------] 50%  2.0 KiB / 4.0 KiB"
            "  1.0 KiB/s  file 2 of 5");
  c.transfer->expected = -1;
  c.rate.reset();
  c.fraction.reset();
  EXPECT_EQ(ComposeStatusLine(c, 100), "Downloading files..  2.0 KiB  file 2 of 5");
}

TEST(StatusLine, NarrowTerminalsCutTheStatusThenTheBar) {
  const StatusLineContent c{"파일을 다운로드 받고 있습니다.", 0.25, TransferInfo{1, 3, 10, 40},
                            std::nullopt};
  for (int columns : {79, 69, 60, 40, 20, 5}) {
    const std::string line = ComposeStatusLine(c, columns);
    EXPECT_LE(DisplayWidth(line), columns) << line;
  }
  EXPECT_NE(ComposeStatusLine(c, 79).find("] 25%"), std::string::npos);
  EXPECT_EQ(ComposeStatusLine(c, 40).find('['), std::string::npos);
  EXPECT_NE(ComposeStatusLine(c, 40).find("25%  10 B / 40 B  file 1 of 3"), std::string::npos);
}

// An 80-column terminal (79 usable) during a download: the whole status
// text and a bar, in English and in Korean, rather than a cut text or no bar.
TEST(StatusLine, AtEightyColumnsTheStatusAndTheBarStayWhole) {
  StatusLineContent c{"Downloading files..", 0.25, TransferInfo{1, 1, 200, 800}, 98.0};
  EXPECT_EQ(ComposeStatusLine(c, 79),
            "Downloading files..  [###---------] 25%  200 B / 800 B  98 B/s  file 1 of 1");
  c.status = "파일을 다운로드 받고 있습니다.";
  EXPECT_EQ(ComposeStatusLine(c, 79),
            "파일을 다운로드 받고 있습니다.  [###---------] 25%  200 B / 800 B  file 1 of 1");
  c.transfer->received = 123456;  // a longer byte count gives up the file count too
  c.transfer->expected = 1234567;
  EXPECT_EQ(ComposeStatusLine(c, 79),
            "파일을 다운로드 받고 있습니다.  [###---------] 25%  120.6 KiB / 1.2 MiB");
}

TEST(StatusLine, RateIsPerFileAndNeedsAQuarterSecond) {
  RateMeter m;
  EXPECT_FALSE(m.Rate());
  m.Sample(10.0, {1, 2, 0, 1000});
  m.Sample(10.1, {1, 2, 100, 1000});
  EXPECT_FALSE(m.Rate());
  m.Sample(11.0, {1, 2, 500, 1000});
  ASSERT_TRUE(m.Rate());
  EXPECT_DOUBLE_EQ(*m.Rate(), 500.0);
  m.Sample(12.0, {2, 2, 0, 1000});  // next file starts over
  m.Sample(13.0, {2, 2, 300, 1000});
  EXPECT_DOUBLE_EQ(*m.Rate(), 300.0);
  m.Sample(14.0, {2, 2, 0, 1000});  // the same file again from the start
  m.Sample(16.0, {2, 2, 100, 1000});
  EXPECT_DOUBLE_EQ(*m.Rate(), 50.0);
}

}  // namespace
}  // namespace mb
