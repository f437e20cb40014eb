// Private-profile files through the system's own functions, and the ANSI
// code page conversions. The code-page cases depend on the system code
// page: scripts/test-wine runs them under 1252 and again under 949.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "helpers/temp_dir.h"
#include "platform/win32/win32_codepage.h"
#include "platform/win32/win32_profile.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_windows.h"

namespace mb::win32 {
namespace {

std::string Get(Win32ProfileStore& store, const std::string& section, const std::string& key,
                const std::string& file, std::uint32_t size = 1024) {
  std::string buf(size, '\x7f');
  const std::uint32_t n = store.GetString(section, key, "dflt", buf.data(), size, file);
  return buf.substr(0, n);
}

TEST(Win32Profile, WritesAndReadsThroughTheSystem) {
  test::TempDir dir;
  const std::string file = dir.str() + "\\install_version.ini";
  Win32ProfileStore store;
  ASSERT_TRUE(store.WriteString("OUTLOOK", "INSTALL_VERSION", "1.0.3", file));
  ASSERT_TRUE(store.WriteString("AGENT", "INSTALL_VERSION", "2.1", file));
  ASSERT_TRUE(store.WriteString("OUTLOOK", "INSTALL_VERSION", "1.0.4", file));
  EXPECT_EQ(Get(store, "outlook", "install_version", file), "1.0.4");
  EXPECT_EQ(Get(store, "AGENT", "INSTALL_VERSION", file), "2.1");
  EXPECT_EQ(Get(store, "AGENT", "MISSING", file), "dflt");
  EXPECT_EQ(Get(store, "NOSECTION", "INSTALL_VERSION", file), "dflt");
  EXPECT_EQ(Get(store, "A", "B", dir.str() + "\\absent.ini"), "dflt");
}

// The pending-install list and the install record are read by other
// programs: a batch's writes reach the file only as a whole, when it ends,
// by one rename; inside it the batch reads its own writes; a write outside
// a batch is whole too. Nothing else is left in the folder.
TEST(Win32Profile, ABatchReplacesTheFileWholeAtItsEnd) {
  test::TempDir dir;
  const std::string file = dir.str() + "\\mailbeacon_download.ini";
  Win32ProfileStore store;
  ASSERT_TRUE(store.WriteString("EXPRESS_DOWNLOAD", "TOTAL_FILES", "9", file));
  const std::string before = test::ReadFile(dir / "mailbeacon_download.ini");
  {
    platform::ProfileBatch batch(store);
    ASSERT_TRUE(store.WriteString("EXPRESS_DOWNLOAD", "TOTAL_FILES", "2", file));
    ASSERT_TRUE(store.WriteString("EXPRESS_FILE_1", "NAME", "a.dll", file));
    EXPECT_EQ(Get(store, "EXPRESS_FILE_1", "NAME", file), "a.dll");
    EXPECT_EQ(test::ReadFile(dir / "mailbeacon_download.ini"), before);  // others see the old
  }
  EXPECT_EQ(test::ReadFile(dir / "mailbeacon_download.ini"),
            "[EXPRESS_DOWNLOAD]\r\nTOTAL_FILES=2\r\n[EXPRESS_FILE_1]\r\nNAME=a.dll\r\n");
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
  EXPECT_FALSE(store.WriteString("A", "B", "C", dir.str() + "\\missing\\x.ini"));
}

TEST(Win32Profile, LongValuesAreCutToTheBuffer) {
  test::TempDir dir;
  const std::string file = dir.str() + "\\m.ini";
  test::WriteFile(dir / "m.ini", "[S]\r\nK=" + std::string(30, 'v') + "\r\n");
  Win32ProfileStore store;
  EXPECT_EQ(Get(store, "S", "K", file, 10), std::string(9, 'v'));
}

// A path reaches its file whether or not the ANSI code page can spell it;
// names and values keep their ANSI bytes either way.
TEST(Win32Profile, PathsReachTheirFileInAnyCodePage) {
  const UINT acp = GetACP();
  if (acp != 1252 && acp != 949) GTEST_SKIP() << "system code page " << acp;
  const std::string ansi_value = acp == 949 ? "A\xB0\xA1" : "caf\xE9";
  const struct {
    std::string utf8;
    std::wstring wide;
  } names[] = {{"\xEA\xB0\x80.ini", L"\uAC00.ini"}, {"caf\xC3\xA9.ini", L"caf\u00E9.ini"}};
  test::TempDir dir;
  Win32ProfileStore store;
  for (const auto& name : names) {
    const std::string file = dir.str() + "\\" + name.utf8;
    ASSERT_TRUE(store.WriteString("S", "K", ansi_value, file)) << name.utf8;
    EXPECT_EQ(Get(store, "S", "K", file), ansi_value) << name.utf8;
    EXPECT_EQ(Get(store, "S", "K", file, 2), ansi_value.substr(0, 1)) << name.utf8;
    EXPECT_EQ(Get(store, "S", "missing", file), "dflt") << name.utf8;
    EXPECT_NE(GetFileAttributesW((dir.path().wstring() + L"\\" + name.wide).c_str()),
              INVALID_FILE_ATTRIBUTES);
  }
}

TEST(Win32CodePage, NumberIsTheSystemsAnsiCodePage) {
  EXPECT_EQ(Win32CodePage().Number(), static_cast<int>(GetACP()));
}

TEST(Win32CodePage, WesternCodePage) {
  Win32CodePage cp;
  if (cp.Number() != 1252) GTEST_SKIP() << "system code page " << cp.Number();
  EXPECT_TRUE(FitsAnsiCodePage("C:\\caf\xC3\xA9"));
  EXPECT_FALSE(FitsAnsiCodePage("C:\\\xEA\xB0\x80"));
  EXPECT_EQ(cp.ToAnsi("caf\xC3\xA9"), "caf\xE9");
  EXPECT_EQ(cp.FromAnsi("caf\xE9"), "caf\xC3\xA9");
  EXPECT_EQ(cp.ToAnsi("\xEA\xB0\x80"), "?");       // a Hangul syllable has no 1252 byte
  EXPECT_EQ(cp.FromAnsi("\x80"), "\xE2\x82\xAC");  // the euro sign
}

TEST(Win32CodePage, KoreanCodePage) {
  Win32CodePage cp;
  if (cp.Number() != 949) GTEST_SKIP() << "system code page " << cp.Number();
  EXPECT_TRUE(FitsAnsiCodePage("C:\\\xEA\xB0\x80"));
  EXPECT_FALSE(FitsAnsiCodePage("C:\\caf\xC3\xA9"));  // no "e" for an "é"
  EXPECT_EQ(cp.ToAnsi("\xEA\xB0\x80"), "\xB0\xA1");   // "가"
  EXPECT_EQ(cp.FromAnsi("\xB0\xA1"), "\xEA\xB0\x80");
  EXPECT_EQ(cp.FromAnsi("A\xB0\xA1Z"), "A\xEA\xB0\x80Z");
  // A lead byte at the end has no trail byte: one replacement character.
  EXPECT_EQ(cp.FromAnsi("A\xB0"), "A\xEF\xBF\xBD");
}

}  // namespace
}  // namespace mb::win32
