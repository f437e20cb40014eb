// A .reg file the store cannot trust is reported once, read as "no
// registry" (1009) and never rewritten; what regedit accepts is accepted.
#include <filesystem>
#include <string>

#include "tests/formats/malformed_registry.h"
#include "tests/posix/registry_test_util.h"

namespace mb::test {
namespace {

using std::string_literals::operator""s;

class RegistryFileMalformed : public RegistryFileTestBase {};

TEST_F(RegistryFileMalformed, IsReportedOnceAndNeverRewritten) {
  for (const MalformedRegistry& c : MalformedRegistryTexts()) {
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
