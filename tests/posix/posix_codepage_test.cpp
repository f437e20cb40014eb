#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "helpers/scoped_env.h"
#include "platform/posix/posix_codepage.h"
#include "support/error.h"

namespace mb::posix {
namespace {

using test::ScopedEnv;

const std::string kFffd = "\xEF\xBF\xBD";

TEST(OsCodePageTest, KoreanRoundTripsThroughCp949) {
  IconvCodePage cp(949);
  EXPECT_EQ(cp.Number(), 949);
  EXPECT_EQ(cp.ToAnsi("한글"), "\xC7\xD1\xB1\xDB");
  EXPECT_EQ(cp.FromAnsi("\xC7\xD1\xB1\xDB"), "한글");
  EXPECT_EQ(cp.ToAnsi("a 한글.txt"), "a \xC7\xD1\xB1\xDB.txt");
  EXPECT_EQ(cp.FromAnsi(cp.ToAnsi("업데이트 완료: 3개 파일")), "업데이트 완료: 3개 파일");
  // Hangul outside KS X 1001 is a CP949 (Unified Hangul Code) extension.
  EXPECT_EQ(cp.FromAnsi(cp.ToAnsi("똠방각하")), "똠방각하");
}

TEST(OsCodePageTest, OtherCodePagesUseTheirWindowsBytes) {
  EXPECT_EQ(IconvCodePage(932).ToAnsi("日本"), "\x93\xFA\x96\x7B");
  EXPECT_EQ(IconvCodePage(936).ToAnsi("中文"), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(IconvCodePage(950).ToAnsi("中文"), "\xA4\xA4\xA4\xE5");
  EXPECT_EQ(IconvCodePage(1251).ToAnsi("Привет"), "\xCF\xF0\xE8\xE2\xE5\xF2");
  IconvCodePage western(1252);
  EXPECT_EQ(western.ToAnsi("café €!"), "caf\xE9 \x80!");
  EXPECT_EQ(western.FromAnsi("caf\xE9 \x80!"), "café €!");
}

TEST(OsCodePageTest, EveryCodePageALocaleCanGiveIsAvailable) {
  for (int number :
       {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
    EXPECT_NO_THROW(IconvCodePage{number}) << number;
  }
  // Vietnamese holds a base letter back until it knows no tone mark follows:
  // the last letter must still come out.
  IconvCodePage vietnamese(1258);
  EXPECT_EQ(vietnamese.FromAnsi(vietnamese.ToAnsi("Tiếng Việt")), "Tiếng Việt");
  EXPECT_EQ(vietnamese.FromAnsi("Vie\xF2"), "Viẹ");
}

TEST(OsCodePageTest, UnrepresentableCharactersBecomeQuestionMarks) {
  IconvCodePage korean(949);
  EXPECT_EQ(korean.ToAnsi("a😀b"), "a?b");
  EXPECT_EQ(korean.ToAnsi("😀😀"), "??");
  IconvCodePage western(1252);
  EXPECT_EQ(western.ToAnsi("x한글y"), "x??y");
  // Bytes that are not UTF-8 at all are not passed through as they are.
  EXPECT_EQ(western.ToAnsi("a\xFF-"), "a?-");
  EXPECT_EQ(korean.ToAnsi("\xED\x95"), "??");  // a character cut off at the end
}

TEST(OsCodePageTest, InvalidAnsiBytesBecomeReplacementCharacters) {
  IconvCodePage korean(949);
  EXPECT_EQ(korean.FromAnsi("a\xFF-"), "a" + kFffd + "-");
  EXPECT_EQ(korean.FromAnsi("ok\xC7"), "ok" + kFffd);  // lead byte without its trail
  EXPECT_EQ(korean.FromAnsi("\xFF\xFF\xC7\xD1"), kFffd + kFffd + "한");
}

TEST(OsCodePageTest, AsciiAndEmptyTextPassUnchanged) {
  for (int number : {949, 932, 1252}) {
    IconvCodePage cp(number);
    EXPECT_EQ(cp.ToAnsi(""), "");
    EXPECT_EQ(cp.FromAnsi(""), "");
    std::string ascii("INSTALL_VERSION=1.0\r\n\0end", 26);
    EXPECT_EQ(cp.ToAnsi(ascii), ascii);
    EXPECT_EQ(cp.FromAnsi(ascii), ascii);
  }
}

TEST(OsCodePageTest, LongTextConvertsCompletely) {
  IconvCodePage korean(949);
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "한글a😀";
  std::string ansi = korean.ToAnsi(text);
  EXPECT_EQ(ansi.size(), 20000u * 6);
  EXPECT_EQ(ansi.substr(ansi.size() - 6), std::string("\xC7\xD1\xB1\xDB") + "a?");
  std::string expected;
  for (int i = 0; i < 20000; ++i) expected += "한글a?";
  EXPECT_EQ(korean.FromAnsi(ansi), expected);

  // Multi-byte characters at odd offsets, on both sides of the conversion.
  std::string odd = "a", odd_ansi = "a";
  for (int i = 0; i < 5000; ++i) {
    odd += "한";
    odd_ansi += "\xC7\xD1";
  }
  EXPECT_EQ(korean.ToAnsi(odd), odd_ansi);
  EXPECT_EQ(korean.FromAnsi(odd_ansi), odd);
}

TEST(OsCodePageTest, UnknownCodePageIsAnError) { EXPECT_THROW(IconvCodePage(123456), Error); }

TEST(OsCodePageTest, LocaleMapsToTheCodePageWineUses) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"ko_KR.UTF-8", 949},  {"ko", 949},          {"ja_JP.eucJP", 932}, {"zh_CN.GB18030", 936},
      {"zh_SG", 936},        {"zh_TW.UTF-8", 950}, {"zh_HK", 950},       {"ru_RU.KOI8-R", 1251},
      {"uk_UA", 1251},       {"bg_BG", 1251},      {"be_BY", 1251},      {"sr_RS", 1251},
      {"sr_RS@latin", 1250}, {"pl_PL", 1250},      {"cs_CZ", 1250},      {"sk_SK", 1250},
      {"hu_HU", 1250},       {"hr_HR", 1250},      {"sl_SI", 1250},      {"ro_RO", 1250},
      {"el_GR", 1253},       {"tr_TR", 1254},      {"he_IL", 1255},      {"ar_EG", 1256},
      {"lt_LT", 1257},       {"lv_LV", 1257},      {"et_EE", 1257},      {"vi_VN", 1258},
      {"th_TH", 874},        {"C", 1252},          {"C.UTF-8", 1252},    {"POSIX", 1252},
      {"en_US.UTF-8", 1252}, {"de_DE@euro", 1252}, {"kok_IN", 1252},     {"KO_KR", 949},
  };
  for (const auto& [locale, expected] : cases) {
    EXPECT_EQ(AnsiCodePageForLocale(locale), expected) << locale;
  }
}

TEST(OsCodePageTest, SystemCodePageTakesTheFirstNonEmptyLocaleVariable) {
  {
    ScopedEnv all("LC_ALL", ""), ctype("LC_CTYPE", "ko_KR.UTF-8"), lang("LANG", "ru_RU");
    EXPECT_EQ(SystemAnsiCodePage(), 949);
  }
  {
    ScopedEnv all("LC_ALL", "ja_JP"), ctype("LC_CTYPE", "ko_KR.UTF-8"), lang("LANG", "ru_RU");
    EXPECT_EQ(SystemAnsiCodePage(), 932);
  }
  {
    ScopedEnv all("LC_ALL", nullptr), ctype("LC_CTYPE", nullptr), lang("LANG", "ru_RU");
    EXPECT_EQ(SystemAnsiCodePage(), 1251);
  }
  {
    ScopedEnv all("LC_ALL", nullptr), ctype("LC_CTYPE", nullptr), lang("LANG", nullptr);
    EXPECT_EQ(SystemAnsiCodePage(), 1252);
  }
}

}  // namespace
}  // namespace mb::posix
