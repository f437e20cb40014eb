// Reading the .reg store: value types and their bytes, names, sizes, keys,
// encodings of the file and the ANSI code page.
#include <filesystem>
#include <string>

#include "helpers/scoped_env.h"
#include "tests/posix/registry_test_util.h"

namespace mb::test {
namespace {

using std::string_literals::operator""s;

const std::string kAllTypes =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\BrightHarbor\\MailbeaconCom]\r\n"
    "@=\"default text\"\r\n"
    "\"URL\"=\"http://updates.example.test\"\r\n"
    "\"Quote\"=\"a \\\"b\\\" c:\\\\dir\"\r\n"
    "\"Empty\"=\"\"\r\n"
    "\"Count\"=dword:0000001f\r\n"
    "\"Blob\"=hex:01,02,03,04\r\n"
    "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    "\"None\"=hex(0):\r\n"
    "\"Qword\"=hex(b):01,00,00,00,00,00,00,80\r\n"
    "\"Long\"=hex:00,01,02,\\\r\n"
    "  03,04\r\n";

class RegistryFileRead : public RegistryFileTestBase {};

TEST_F(RegistryFileRead, EveryValueTypeGivesItsTypeAndBytes) {
  Write(kAllTypes);
  Store();
  const struct {
    const char* name;
    std::uint32_t type;
    std::string bytes;
  } cases[] = {
      {"", 1, "default text\0"s},
      {"URL", 1, "http://updates.example.test\0"s},
      {"Quote", 1, "a \"b\" c:\\dir\0"s},
      {"Empty", 1, "\0"s},
      {"Count", 4, "\x1f\0\0\0"s},
      {"Blob", 3, "\x01\x02\x03\x04"s},
      {"Expand", 2, "%A%\0"s},
      {"Multi", 7, "a\0b\0\0"s},
      {"None", 0, ""},
      {"Qword", 11, "\x01\0\0\0\0\0\0\x80"s},
      {"Long", 3, "\x00\x01\x02\x03\x04"s},
  };
  for (const auto& c : cases) {
    const QueryResult r = Query(kProductKey, c.name);
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_EQ(r.type, c.type) << c.name;
    EXPECT_EQ(r.bytes, c.bytes) << c.name;
  }
}

TEST_F(RegistryFileRead, HexStringDataOfRegedit4IsAnsi) {
  Write(
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\X]\n"
      "\"Expand\"=hex(2):25,c7,d1,25,00\n\"Multi\"=hex(7):61,00,00\n");
  Store(949);
  EXPECT_EQ(Query("Software\\X", "Expand").bytes, "%\xC7\xD1%\0"s);
  EXPECT_EQ(Query("Software\\X", "Multi").bytes, "a\0\0"s);
}

TEST_F(RegistryFileRead, NamesAndKeysIgnoreCase) {
  Write("REGEDIT4\n\n[hkcu\\SOFTWARE\\brightharbor\\MailbeaconCom]\n\"url\"=\"u\"\n");
  Store();
  EXPECT_EQ(Query("software\\BrightHarbor\\MAILBEACONCOM", "URL").bytes, "u\0"s);
  EXPECT_EQ(Query(kProductKey, "Url").status, 0);
}

TEST_F(RegistryFileRead, LaterDefinitionOfAValueWins) {
  Write(
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"v\"=\"1\"\n\n[HKEY_CURRENT_USER\\B]\n\n"
      "[HKEY_CURRENT_USER\\A]\n\"V\"=\"2\"\n");
  Store();
  EXPECT_EQ(Query("A", "v").bytes, "2\0"s);
}

TEST_F(RegistryFileRead, KeysExistWithTheirParentsOnly) {
  Write(kAllTypes);
  Store();
  platform::RegKey key = 0;
  EXPECT_EQ(Open("Software", &key), 0);
  EXPECT_EQ(Open("Software\\BrightHarbor\\", &key), 0);
  EXPECT_EQ(Open("Software\\Other", &key), 2);
  EXPECT_EQ(Open("Software\\BrightHarbor\\MailbeaconCom\\Sub", &key), 2);
  EXPECT_EQ(Open(kProductKey, &key, platform::kHkeyLocalMachine), 2);
  EXPECT_EQ(Open(kProductKey, &key, 0x1234), 6);
  EXPECT_EQ(Query(kProductKey, "Missing").status, 2);
  EXPECT_EQ(Query(kProductKey, "Missing").bytes, "");
}

TEST_F(RegistryFileRead, MissingFileMeansNoKeys) {
  Store();
  platform::RegKey key = 0;
  EXPECT_EQ(Open(kProductKey, &key), 2);
  EXPECT_EQ(Set(kProductKey, "URL", 1, "x"), 2);
  EXPECT_EQ(store_->SetValue(platform::kHkeyCurrentUser, "URL", 1, nullptr, 0), 2);
  EXPECT_FALSE(std::filesystem::exists(Path()));

  posix::RegistryFile nowhere((dir_ / "no/such/registry.reg").string(), *cp_);
  EXPECT_EQ(nowhere.SetValue(platform::kHkeyCurrentUser, "URL", 1, nullptr, 0), 2);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "no"));
}

TEST_F(RegistryFileRead, HandlesAreTrackedUntilClosed) {
  Write(kAllTypes);
  Store();
  platform::RegKey first = 0, second = 0;
  ASSERT_EQ(Open(kProductKey, &first), 0);
  ASSERT_EQ(Open("Software", &second), 0);
  EXPECT_NE(first, second);
  EXPECT_EQ(store_->CloseKey(first), 0);
  EXPECT_EQ(store_->CloseKey(first), 6);
  std::uint32_t size = 0;
  EXPECT_EQ(store_->QueryValue(first, "URL", nullptr, nullptr, &size), 6);
  EXPECT_EQ(store_->CloseKey(12345), 6);
  EXPECT_EQ(store_->CloseKey(second), 0);
}

class RegistryFileSizes : public RegistryFileTestBase {};

TEST_F(RegistryFileSizes, TextNearTheBufferSize) {
  const std::string fits(1023, 'a');
  const std::string too_long(1024, 'b');
  Write("REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"Fits\"=\"" + fits + "\"\n\"Long\"=\"" + too_long +
        "\"\n");
  Store();
  EXPECT_EQ(Query("K", "Fits").bytes, fits + '\0');

  platform::RegKey key = 0;
  ASSERT_EQ(Open("K", &key), 0);
  std::string buffer(1024, 'z');
  std::uint32_t size = 1024, type = 0;
  EXPECT_EQ(
      store_->QueryValue(key, "Long", &type, reinterpret_cast<std::uint8_t*>(buffer.data()), &size),
      234);
  EXPECT_EQ(size, 1025u);
  EXPECT_EQ(buffer, std::string(1024, 'z'));  // nothing copied

  size = 0;
  EXPECT_EQ(store_->QueryValue(key, "Long", &type, nullptr, &size), 0);  // size only
  EXPECT_EQ(size, 1025u);
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(store_->QueryValue(key, "Long", &type, reinterpret_cast<std::uint8_t*>(buffer.data()),
                               nullptr),
            87);
}

TEST_F(RegistryFileSizes, SizeCountsAnsiBytesNotUtf8Bytes) {
  // 511 Hangul syllables: 1533 bytes of UTF-8, but 1022 of CP949 (+ NUL) fit.
  std::string text;
  for (int i = 0; i < 511; ++i) text += "\xED\x95\x9C";  // U+D55C
  Write("REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"T\"=\"" + text + "\"\n");
  Store(949);
  const QueryResult r = Query("K", "T");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.bytes.size(), 1023u);
  EXPECT_EQ(r.bytes.substr(0, 2), "\xC7\xD1");
}

class RegistryFileEncoding : public RegistryFileTestBase {};

std::string Utf16leWithBom(const std::u16string& text) {
  std::string out = "\xFF\xFE";
  for (char16_t unit : text) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

TEST_F(RegistryFileEncoding, KoreanUtf8ComesBackAsCp949) {
  Write("REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"Name\"=\"한글\"\n\"Mixed\"=\"a한ก\"\n");
  Store(949);
  EXPECT_EQ(Query("K", "Name").bytes, "\xC7\xD1\xB1\xDB\0"s);
  EXPECT_EQ(Query("K", "Mixed").bytes, "a\xC7\xD1?\0"s);  // no Thai in CP949
}

TEST_F(RegistryFileEncoding, Utf16FileWithBomIsReadAndStaysUtf16) {
  const std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_CURRENT_USER\\Software\\K]\r\n"
      u"\"Name\"=\"한글\"\r\n"
      u"\"Expand\"=hex(2):5c,d5,00,00\r\n";
  Write(Utf16leWithBom(text));
  Store(949);
  EXPECT_EQ(Query("Software\\K", "Name").bytes, "\xC7\xD1\xB1\xDB\0"s);
  EXPECT_EQ(Query("Software\\K", "Expand").bytes, "\xC7\xD1\0"s);

  ASSERT_EQ(Set("Software\\K", "Name", 1, "\xB8\xDE\xC0\xCF"), 0);
  EXPECT_EQ(Contents(), Utf16leWithBom(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                       u"[HKEY_CURRENT_USER\\Software\\K]\r\n"
                                       u"\"Name\"=\"메일\"\r\n"
                                       u"\"Expand\"=hex(2):5c,d5,00,00\r\n"));
  EXPECT_EQ(Query("Software\\K", "Name").bytes, "\xB8\xDE\xC0\xCF\0"s);
}

TEST_F(RegistryFileEncoding, Cp949SetValueLandsAsUtf8) {
  Write("REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n");
  Store(949);
  ASSERT_EQ(Set("K", "Name", 1, "\xB8\xDE\xC0\xCF\0\0"s), 0);  // trailing NULs dropped
  EXPECT_EQ(Contents(), "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"Name\"=\"메일\"\n");
  EXPECT_EQ(Query("K", "Name").bytes, "\xB8\xDE\xC0\xCF\0"s);
}

TEST(RegistryFileDefaultPath, FollowsTheEnvironment) {
  const ScopedEnv home("HOME", "/home/u");
  {
    const ScopedEnv registry("MAILBEACON_REGISTRY", "/tmp/r.reg");
    EXPECT_EQ(posix::DefaultRegistryPath(), "/tmp/r.reg");
  }
  const ScopedEnv no_registry("MAILBEACON_REGISTRY", nullptr);
  {
    const ScopedEnv xdg("XDG_CONFIG_HOME", "/x/cfg");
    EXPECT_EQ(posix::DefaultRegistryPath(), "/x/cfg/mailbeacon/registry.reg");
  }
  const ScopedEnv no_xdg("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(posix::DefaultRegistryPath(), "/home/u/.config/mailbeacon/registry.reg");
}

}  // namespace
}  // namespace mb::test
