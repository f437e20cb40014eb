// Regression tests for what fuzzing the .reg store found. A write must
// never leave a file that the next read cannot parse: every other setting
// would read as missing from then on.
#include <gtest/gtest.h>

#include <string>

#include "helpers/temp_dir.h"
#include "platform/posix/posix_codepage.h"
#include "platform/posix/posix_registry_file.h"

namespace mb::test {
namespace {

class FaultyRegistryWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(path,
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\BrightHarbor\\MailbeaconCom]\n\"URL\"="
              "\"http://x\"\n");
  }
  long Set(const std::string& name, const std::string& text) {
    posix::RegistryFile store(path, cp);
    platform::RegKey key = 0;
    if (long s = store.OpenKey(platform::kHkeyCurrentUser, "Software\\BrightHarbor\\MailbeaconCom",
                               platform::kAgentKeyAccess, &key)) {
      return s;
    }
    const long s = store.SetValue(key, name, platform::kRegSz,
                                  reinterpret_cast<const std::uint8_t*>(text.data()),
                                  static_cast<std::uint32_t>(text.size()));
    store.CloseKey(key);
    return s;
  }
  std::string Url() {
    posix::RegistryFile store(path, cp);
    platform::RegKey key = 0;
    store.OpenKey(platform::kHkeyCurrentUser, "Software\\BrightHarbor\\MailbeaconCom",
                  platform::kAgentKeyAccess, &key);
    std::uint8_t buf[64] = {};
    std::uint32_t type = 0, size = sizeof buf;
    const long s = store.QueryValue(key, "URL", &type, buf, &size);
    return s == 0 ? std::string(reinterpret_cast<char*>(buf)) : "status " + std::to_string(s);
  }

  TempDir dir;
  std::string path = (dir.path() / "registry.reg").string();
  posix::IconvCodePage cp{1252};
};

TEST_F(FaultyRegistryWrite, QuotesAndBackslashesInANameKeepTheFileReadable) {
  EXPECT_EQ(Set("a\"b\\c", "v"), 0);
  EXPECT_EQ(Url(), "http://x");
}

// Found by the registry fuzz target: a value name holding a line break
// would split its line and leave a file that no longer parses. The store
// refuses such a name (87) and the file stays readable.
TEST_F(FaultyRegistryWrite, LineBreakInAValueNameIsRefused) {
  EXPECT_EQ(Set("a\nb", "v"), 87);
  EXPECT_EQ(Set("a\rb", "v"), 87);
  EXPECT_EQ(Url(), "http://x");
}

}  // namespace
}  // namespace mb::test
