// A .reg file the store cannot trust is reported once, read as "no
// registry" (1009) and never rewritten; what regedit accepts is accepted.
#include <filesystem>
#include <string>

#include "tests/platform/registry_test_util.h"

namespace mb::test {
namespace {

using std::string_literals::operator""s;

class RegistryFileMalformed : public RegistryFileTestBase {};

TEST_F(RegistryFileMalformed, IsReportedOnceAndNeverRewritten) {
  const struct {
    const char* what;
    std::string bytes;
    int bad_line;
  } cases[] = {
      {"no header", "[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\"\n", 1},
      {"empty file", "", 1},
      {"stray text", "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\nbogus line\n", 4},
      {"value before any key", "REGEDIT4\n\"a\"=\"1\"\n[HKEY_CURRENT_USER\\K]\n", 2},
      {"unterminated string", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"cut off", 3},
      {"truncated hex", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=hex:01,02,\\\n", 3},
      {"bad hex byte", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=hex:01,0g\n", 3},
      {"dword too long", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=dword:000000001\n", 3},
      {"unknown root", "REGEDIT4\n[HKEY_NOWHERE\\K]\n", 2},
      {"unclosed key", "REGEDIT4\n[HKEY_CURRENT_USER\\K\n", 2},
      {"not UTF-8", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"\xC7\xD1\"\n", 3},
      {"odd UTF-16", "\xFF\xFER\0E\0G\0"s + "E\0D\0I\0T\0"s + "4\0\n\0["s, 2},
      {"NUL byte", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\0\"\n"s, 3},
  };
  for (const auto& c : cases) {
    Write(c.bytes);
    Store();
    testing::internal::CaptureStderr();
    platform::RegKey key = 0;
    EXPECT_EQ(Open("K", &key), 1009) << c.what;
    EXPECT_EQ(store_->SetValue(platform::kHkeyCurrentUser, "a", 1,
                               reinterpret_cast<const std::uint8_t*>("x"), 1),
              1009)
        << c.what;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "mailbeacon: registry file " + Path() + " is malformed at line " +
                       std::to_string(c.bad_line) + "; using defaults\n")
        << c.what;
    EXPECT_EQ(Contents(), c.bytes) << c.what;
  }
}

TEST_F(RegistryFileMalformed, UnreadableFileCountsAsBad) {
  std::filesystem::create_directory(Path());
  Store();
  testing::internal::CaptureStderr();
  platform::RegKey key = 0;
  EXPECT_EQ(Open("K", &key), 1009);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("registry file " + Path()),
            std::string::npos);
}

TEST_F(RegistryFileMalformed, WhatRegeditAcceptsIsAccepted) {
  const std::string lenient =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00   \n"
      "[-HKEY_CURRENT_USER\\Old]\n"
      "\"ignored\"=\"in a deletion section\"\n"
      "  [HKCU\\K]  ; short root name\n"
      "\t\"spaced\"  =  \"v\"\n"
      "\"gone\"=-\n"
      "\"dw\"=DWORD:1F\n"
      "\"bin\"=HEX:1,2 ; comment\n"
      "\"cont\"=hex:01,  \\  \n"
      "; comment inside\n"
      "    02\n"
      "\"esc\"=\"a\\tb\"\n"
      "\"last\"=\"no final newline\"";
  Write(lenient);
  Store();
  EXPECT_EQ(Query("K", "spaced").bytes, "v\0"s);
  EXPECT_EQ(Query("K", "gone").status, 2);
  EXPECT_EQ(Query("K", "dw").bytes, "\x1f\0\0\0"s);
  EXPECT_EQ(Query("K", "bin").bytes, "\x01\x02");
  EXPECT_EQ(Query("K", "cont").bytes, "\x01\x02");
  EXPECT_EQ(Query("K", "esc").bytes, "a\\tb\0"s);  // only \\ and \" are escapes
  EXPECT_EQ(Query("K", "last").bytes, "no final newline\0"s);
  platform::RegKey key = 0;
  EXPECT_EQ(Open("Old", &key), 2);

  ASSERT_EQ(Set("K", "new", 1, "n"), 0);
  EXPECT_EQ(Contents(), lenient + "\n\"new\"=\"n\"");
}

}  // namespace
}  // namespace mb::test
