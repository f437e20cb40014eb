#include "server/program_name.h"

#include <gtest/gtest.h>

#include <random>

#include "server/ansi_code_page.h"

namespace mb::server {
namespace {

// "메일.dll" in CP949 is B8 DE C0 CF 2E 64 6C 6C; B8DE read as a signed 16-bit
// number is -18210, C0CF is -16177; every code is sent plus 573.
const char kKoreanEncoded[] = "-17637*-15604*619*673*681*681*";
const char kKoreanAnsi[] = "\xB8\xDE\xC0\xCF.dll";
const char kKoreanUtf8[] = "\xEB\xA9\x94\xEC\x9D\xBC.dll";  // 메일.dll

TEST(ServerProgramName, DecodesSingleAndDoubleByteCharacters) {
  EXPECT_EQ(DecodeProgramName("670*619*"), "a.");  // 'a' 97, '.' 46
  EXPECT_EQ(DecodeProgramName("573*828*"), std::string("\x00\xFF", 2));
  EXPECT_EQ(DecodeProgramName("-13298*"), "\xC9\xD1");  // -13871 is C9 D1
  EXPECT_EQ(DecodeProgramName(kKoreanEncoded), kKoreanAnsi);
  EXPECT_EQ(DecodeProgramName("829*"), std::string("\x01\x00", 2));  // 256: two bytes
}

TEST(ServerProgramName, RefusesMalformedValues) {
  for (const char* bad : {"", "*", "670", "670*619", "670**", "abc*", "+670*", "6 70*", "670*x*",
                          "-*", "12345678*", "33341*", "-32196*"}) {
    EXPECT_FALSE(DecodeProgramName(bad).has_value()) << bad;
  }
  // The 16-bit range ends exactly at the limits.
  EXPECT_TRUE(DecodeProgramName("33340*").has_value());   // 32767
  EXPECT_TRUE(DecodeProgramName("-32195*").has_value());  // -32768
}

TEST(ServerProgramName, EncodesAsTheAgentDoes) {
  AnsiCodePage cp949(949);
  EXPECT_EQ(EncodeProgramName(kKoreanUtf8, cp949), kKoreanEncoded);
  EXPECT_EQ(EncodeProgramName("a.", cp949), "670*619*");
  EXPECT_EQ(EncodeProgramName("\xF0\x9F\x98\x80", cp949), std::nullopt);  // no emoji in CP949
  EXPECT_EQ(cp949.ToUtf8(*DecodeProgramName(kKoreanEncoded)), kKoreanUtf8);
  AnsiCodePage cp1252(1252);
  EXPECT_EQ(EncodeProgramName("\xC3\xA9", cp1252), "806*");  // é is E9 (233) in 1252
}

TEST(ServerProgramName, RandomNamesSurviveTheRoundTrip) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(0, 255), width(1, 2), length(1, 20);
  for (int round = 0; round < 500; ++round) {
    std::vector<AnsiChar> chars;
    std::string bytes;
    for (int i = length(random); i > 0; --i) {
      AnsiChar c;
      for (int w = width(random); w > 0; --w) c.push_back(static_cast<char>(byte(random)));
      // A double-byte character below 0x0100 cannot be told from a single byte.
      if (c.size() == 2 && c[0] == 0) c[0] = 1;
      bytes += c;
      chars.push_back(c);
    }
    EXPECT_EQ(DecodeProgramName(EncodeProgramName(chars)), bytes);
  }
}

TEST(ServerProgramName, UnknownCodePageIsRefused) {
  EXPECT_THROW(AnsiCodePage(4242), std::runtime_error);
}

}  // namespace
}  // namespace mb::server
