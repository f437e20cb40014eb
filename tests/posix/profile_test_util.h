// Shared set-up for the INI store tests: a temp folder, a store and a
// string-returning read.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers/temp_dir.h"
#include "platform/posix/posix_profile_store.h"

namespace mb::test {

class ProfileStoreFixture : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // GetString into a buffer of `size` bytes; the text up to the count.
  std::string Get(const std::string& file, const std::string& section, const std::string& key,
                  const std::string& def = "", std::uint32_t size = 1024) {
    std::vector<char> buf(size + 1, '#');
    const std::uint32_t n = store_.GetString(section, key, def, buf.data(), size, file);
    EXPECT_LT(n, size == 0 ? 1u : size);
    if (size > 0) {
      EXPECT_EQ(buf[n], '\0') << "missing terminator";
    }
    return std::string(buf.data(), n);
  }

  // Writes `bytes` as a new file, then reads section/key through the store.
  std::string ReadFrom(const std::string& bytes, const std::string& section, const std::string& key,
                       const std::string& def = "") {
    const std::string file = Path("r" + std::to_string(++files_) + ".ini");
    WriteFile(file, bytes);
    return Get(file, section, key, def);
  }

  TempDir dir_;
  int files_ = 0;
  posix::PosixProfileStore store_;
};

}  // namespace mb::test
