// The registry backend against the real registry: a scratch key under
// HKEY_CURRENT_USER, removed after each test.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_windows.h"

namespace mb::win32 {
namespace {

using platform::kHkeyCurrentUser;
using platform::RegKey;

class Win32RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sub_key_ = "Software\\MailbeaconTests\\" + std::to_string(GetCurrentProcessId());
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, sub_key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(k);
  }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\MailbeaconTests"); }

  RegKey Open() {
    RegKey key = 0;
    EXPECT_EQ(reg_.OpenKey(kHkeyCurrentUser, sub_key_, platform::kAgentKeyAccess, &key), 0);
    return key;
  }
  void Put(RegKey key, const std::string& name, std::uint32_t type, const std::string& bytes) {
    ASSERT_EQ(reg_.SetValue(key, name, type, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                            static_cast<std::uint32_t>(bytes.size())),
              0);
  }

  Win32Registry reg_;
  std::string sub_key_;
};

TEST_F(Win32RegistryTest, OpenNeverCreatesAKey) {
  RegKey key = 77;
  EXPECT_EQ(reg_.OpenKey(kHkeyCurrentUser, sub_key_ + "\\Missing", platform::kAgentKeyAccess, &key),
            platform::kErrorFileNotFound);
  HKEY probe = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (sub_key_ + "\\Missing").c_str(), 0, KEY_READ, &probe),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(Win32RegistryTest, StringValuesComeBackWithTheirTerminator) {
  RegKey key = Open();
  Put(key, "URL", platform::kRegSz, std::string("http://127.0.0.1:8080", 22));
  std::uint8_t buf[64] = {};
  std::uint32_t type = 0, size = sizeof buf;
  ASSERT_EQ(reg_.QueryValue(key, "URL", &type, buf, &size), 0);
  EXPECT_EQ(type, platform::kRegSz);
  EXPECT_EQ(size, 22u);  // 21 characters and the NUL
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "http://127.0.0.1:8080");
  EXPECT_EQ(reg_.CloseKey(key), 0);
}

TEST_F(Win32RegistryTest, TooSmallABufferReportsMoreDataAndTheNeededSize) {
  RegKey key = Open();
  Put(key, "Long", platform::kRegSz, std::string(40, 'x') + '\0');
  std::uint8_t buf[8] = {};
  std::uint32_t type = 0, size = sizeof buf;
  EXPECT_EQ(reg_.QueryValue(key, "Long", &type, buf, &size), platform::kErrorMoreData);
  EXPECT_EQ(size, 41u);
  // A null buffer asks for type and size only.
  size = 0;
  EXPECT_EQ(reg_.QueryValue(key, "Long", &type, nullptr, &size), 0);
  EXPECT_EQ(size, 41u);
  reg_.CloseKey(key);
}

TEST_F(Win32RegistryTest, DwordBinaryMissingAndDefaultValues) {
  RegKey key = Open();
  Put(key, "Language", platform::kRegDword, std::string("\x10\x00\x00\x00", 4));
  Put(key, "", platform::kRegSz, std::string("default", 8));
  std::uint8_t buf[16] = {};
  std::uint32_t type = 0, size = sizeof buf;
  ASSERT_EQ(reg_.QueryValue(key, "Language", &type, buf, &size), 0);
  EXPECT_EQ(type, platform::kRegDword);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(buf[0], 0x10);
  size = sizeof buf;
  EXPECT_EQ(reg_.QueryValue(key, "Absent", &type, buf, &size), platform::kErrorFileNotFound);
  size = sizeof buf;
  ASSERT_EQ(reg_.QueryValue(key, "", &type, buf, &size), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "default");
  reg_.CloseKey(key);
}

TEST_F(Win32RegistryTest, ClassesRootIsReachableThroughItsPredefinedNumber) {
  RegKey key = 0;
  // HKEY_CLASSES_ROOT always has the CLSID key.
  EXPECT_EQ(reg_.OpenKey(platform::kHkeyClassesRoot, "CLSID", KEY_READ, &key), 0);
  if (key != 0) reg_.CloseKey(key);
}

}  // namespace
}  // namespace mb::win32
