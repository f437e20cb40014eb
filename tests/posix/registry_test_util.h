// Shared set-up of the registry file tests: a store on a temporary file and
// short-hands for the four registry calls.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "helpers/temp_dir.h"
#include "platform/posix/posix_codepage.h"
#include "platform/posix/posix_registry_file.h"

namespace mb::test {

inline constexpr const char* kProductKey = "Software\\BrightHarbor\\MailbeaconCom";

struct QueryResult {
  long status = -1;
  std::uint32_t type = 0xFFFF;
  std::string bytes;
};

class RegistryFileTestBase : public ::testing::Test {
 protected:
  std::string Path() const { return (dir_ / "registry.reg").string(); }
  void Write(const std::string& bytes) const { WriteFile(Path(), bytes); }
  std::string Contents() const { return ReadFile(Path()); }

  // A fresh store, as every agent call would see it.
  posix::RegistryFile& Store(int code_page = 1252) {
    cp_ = std::make_unique<posix::IconvCodePage>(code_page);
    store_ = std::make_unique<posix::RegistryFile>(Path(), *cp_);
    return *store_;
  }

  long Open(const std::string& sub_key, platform::RegKey* key,
            std::uint32_t root = platform::kHkeyCurrentUser) {
    return store_->OpenKey(root, sub_key, platform::kAgentKeyAccess, key);
  }

  // Opens the key, reads the value into a 1024-byte buffer, closes the key.
  QueryResult Query(const std::string& sub_key, const std::string& name,
                    std::uint32_t buffer = 1024) {
    QueryResult result;
    platform::RegKey key = 0;
    result.status = Open(sub_key, &key);
    if (result.status != 0) return result;
    std::string data(buffer, '\x5A');
    std::uint32_t size = buffer;
    result.status = store_->QueryValue(key, name, &result.type,
                                       reinterpret_cast<std::uint8_t*>(data.data()), &size);
    result.bytes = data.substr(0, result.status == 0 ? size : 0);
    EXPECT_EQ(store_->CloseKey(key), 0);
    return result;
  }

  long Set(const std::string& sub_key, const std::string& name, std::uint32_t type,
           const std::string& data) {
    platform::RegKey key = 0;
    const long opened = Open(sub_key, &key);
    if (opened != 0) return opened;
    const long status =
        store_->SetValue(key, name, type, reinterpret_cast<const std::uint8_t*>(data.data()),
                         static_cast<std::uint32_t>(data.size()));
    EXPECT_EQ(store_->CloseKey(key), 0);
    return status;
  }

  TempDir dir_;
  std::unique_ptr<posix::IconvCodePage> cp_;
  std::unique_ptr<posix::RegistryFile> store_;
};

}  // namespace mb::test
