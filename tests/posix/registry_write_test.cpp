// Writing the .reg store: one value's line changes, every other byte of the
// file stays, values read back as written, and concurrent writers lose
// nothing.
#include <string>
#include <thread>
#include <vector>

#include "tests/posix/registry_test_util.h"

namespace mb::test {
namespace {

using std::string_literals::operator""s;

// CRLF, comments, odd spacing, a deletion section, no final line end.
const std::string kUntidy =
    "Windows Registry Editor Version 5.00\r\n"
    "; exported by hand\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\BrightHarbor\\MailbeaconCom]\r\n"
    "\"URL\" = \"http://old.example.test\"\r\n"
    "\"Language\"=\"KOREAN\"   ; the message language\r\n"
    "; a trailing comment of the section\r\n"
    "\r\n"
    "[-HKEY_CURRENT_USER\\Software\\Gone]\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\BrightHarbor\\MailbeaconCom\\Deeper]\r\n"
    "\"Blob\"=hex:01,\\\r\n"
    "  ; between the pieces\r\n"
    "  02";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

class RegistryFileWrite : public RegistryFileTestBase {};

TEST_F(RegistryFileWrite, ReplacingAValueChangesOnlyItsLine) {
  Write(kUntidy);
  Store();
  ASSERT_EQ(Set(kProductKey, "url", 1, "http://new.example.test"), 0);
  EXPECT_EQ(Contents(), Replaced(kUntidy, "\"URL\" = \"http://old.example.test\"",
                                 "\"URL\"=\"http://new.example.test\""));
  ASSERT_EQ(Set(kProductKey, "Language", 1, "ENGLISH"), 0);
  EXPECT_EQ(Query(kProductKey, "LANGUAGE").bytes, "ENGLISH\0"s);
  EXPECT_EQ(Query("Software\\BrightHarbor\\MailbeaconCom\\Deeper", "Blob").bytes, "\x01\x02");
}

TEST_F(RegistryFileWrite, NewValueGoesAfterTheLastValueOfItsSection) {
  Write(kUntidy);
  Store();
  ASSERT_EQ(Set(kProductKey, "V_DIR", 1, "/mailbeaconhome"), 0);
  EXPECT_EQ(Contents(), Replaced(kUntidy, "; the message language\r\n",
                                 "; the message language\r\n\"V_DIR\"=\"/mailbeaconhome\"\r\n"));
}

TEST_F(RegistryFileWrite, KeyKnownOnlyAsAParentGetsItsOwnSection) {
  Write(kUntidy);
  Store();
  ASSERT_EQ(Set("Software\\BrightHarbor", "Vendor", 1, "yes"), 0);
  EXPECT_EQ(Contents(), kUntidy +
                            "\r\n\r\n[HKEY_CURRENT_USER\\Software\\BrightHarbor]\r\n"
                            "\"Vendor\"=\"yes\"\r\n");
  EXPECT_EQ(Query("Software\\BrightHarbor", "vendor").bytes, "yes\0"s);
}

TEST_F(RegistryFileWrite, MissingKeyIsNeverCreated) {
  Write(kUntidy);
  Store();
  EXPECT_EQ(Set("Software\\Gone", "URL", 1, "x"), 2);
  EXPECT_EQ(Set("Software\\Nowhere", "URL", 1, "x"), 2);
  EXPECT_EQ(Contents(), kUntidy);
}

TEST_F(RegistryFileWrite, EveryTypeReadsBackAsWritten) {
  Write("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\K]\n");
  Store();
  const std::string blob(100, '\xAB');
  const struct {
    const char* name;
    std::uint32_t type;
    std::string in;
    std::string out;   // what a query gives back
    std::string line;  // how the file holds it
  } cases[] = {
      {"Sz", 1, "a\"b\\c", "a\"b\\c\0"s, "\"Sz\"=\"a\\\"b\\\\c\""},
      {"", 1, "default", "default\0"s, "@=\"default\""},
      {"Empty", 1, "", "\0"s, "\"Empty\"=\"\""},
      {"Lines", 1, "a\r\nb", "a\r\nb\0"s, "\"Lines\"=hex(1):61,00,0d,00,0a,00,62,00,00,00"},
      {"Dword", 4, "\x10\0\0\0"s, "\x10\0\0\0"s, "\"Dword\"=dword:00000010"},
      {"Short", 4, "\x10"s, "\x10"s, "\"Short\"=hex(4):10"},
      {"Expand", 2, "%P%\0"s, "%P%\0"s, "\"Expand\"=hex(2):25,00,50,00,25,00,00,00"},
      {"Multi", 7, "a\0\0"s, "a\0\0"s, "\"Multi\"=hex(7):61,00,00,00,00,00"},
      {"None", 0, "", "", "\"None\"=hex(0):"},
      {"Blob", 3, blob, blob,
       "\"Blob\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\n  ab,"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(Set("K", c.name, c.type, c.in), 0) << c.name;
    const QueryResult r = Query("K", c.name);
    EXPECT_EQ(r.type, c.type) << c.name;
    EXPECT_EQ(r.bytes, c.out) << c.name;
    EXPECT_NE(Contents().find(c.line), std::string::npos) << c.name << "\n" << Contents();
  }
}

TEST_F(RegistryFileWrite, HexStringsOfRegedit4StayAnsi) {
  Write("REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n");
  Store(949);
  ASSERT_EQ(Set("K", "Expand", 2, "%\xC7\xD1%\0"s), 0);
  ASSERT_EQ(Set("K", "Lines", 1, "\xC7\xD1\n"s), 0);
  EXPECT_EQ(Contents(),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"Expand\"=hex(2):25,c7,d1,25,00\n"
            "\"Lines\"=hex(1):c7,d1,0a,00\n");
  EXPECT_EQ(Query("K", "Lines").bytes, "\xC7\xD1\n\0"s);
}

TEST_F(RegistryFileWrite, KeepsTheFilePermissionsAndLeavesNoTemporaryFiles) {
  Write(kUntidy);
  std::filesystem::permissions(Path(), std::filesystem::perms(0600));
  Store();
  ASSERT_EQ(Set(kProductKey, "URL", 1, "x"), 0);
  EXPECT_EQ(std::filesystem::status(Path()).permissions(), std::filesystem::perms(0600));
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "registry.reg" || name == "registry.reg.lock") << name;
  }
}

TEST_F(RegistryFileWrite, ParallelWritersLoseNoUpdate) {
  Write("REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"Keep\"=\"me\"\n");
  constexpr int kWriters = 4;
  constexpr int kValuesEach = 25;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([this, w] {
      posix::IconvCodePage cp(1252);
      posix::RegistryFile store(Path(), cp);  // a separate store, as another process has
      platform::RegKey key = 0;
      ASSERT_EQ(store.OpenKey(platform::kHkeyCurrentUser, "K", 0, &key), 0);
      for (int i = 0; i < kValuesEach; ++i) {
        const std::string value = std::to_string(w * 1000 + i);
        ASSERT_EQ(
            store.SetValue(key, "v" + value, 1, reinterpret_cast<const std::uint8_t*>(value.data()),
                           static_cast<std::uint32_t>(value.size())),
            0);
      }
    });
  }
  for (auto& writer : writers) writer.join();
  Store();
  EXPECT_EQ(Query("K", "Keep").bytes, "me\0"s);
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kValuesEach; ++i) {
      const std::string value = std::to_string(w * 1000 + i);
      EXPECT_EQ(Query("K", "v" + value).bytes, value + '\0');
    }
  }
}

}  // namespace
}  // namespace mb::test
