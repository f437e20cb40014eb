#include "support/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "helpers/temp_dir.h"
#include "support/error.h"

namespace mb {
namespace {

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(byte(gen));
  return s;
}

// Hands out a string in reads of the given sizes (cycling), never more than
// the caller asked for; remembers the largest request it saw.
class ChunkedInput : public platform::InputFile {
 public:
  ChunkedInput(std::string bytes, std::vector<std::size_t> sizes)
      : bytes_(std::move(bytes)), sizes_(std::move(sizes)) {}
  std::size_t Read(char* buf, std::size_t n) override {
    largest_request_ = std::max(largest_request_, n);
    std::size_t take = std::min({n, sizes_[next_++ % sizes_.size()], bytes_.size() - pos_});
    bytes_.copy(buf, take, pos_);
    pos_ += take;
    return take;
  }
  std::size_t largest_request() const { return largest_request_; }

 private:
  std::string bytes_;
  std::vector<std::size_t> sizes_;
  std::size_t next_ = 0, pos_ = 0, largest_request_ = 0;
};

class FileInput : public platform::InputFile {
 public:
  explicit FileInput(const std::filesystem::path& p) : in_(p, std::ios::binary) {
    if (!in_) throw std::runtime_error("cannot open " + p.string());
  }
  std::size_t Read(char* buf, std::size_t n) override {
    in_.read(buf, static_cast<std::streamsize>(n));
    return static_cast<std::size_t>(in_.gcount());
  }

 private:
  std::ifstream in_;
};

class FailingInput : public platform::InputFile {
 public:
  std::size_t Read(char* buf, std::size_t n) override {
    if (reads_++ > 0) throw Error(5, "Input/output error");
    std::fill_n(buf, std::min<std::size_t>(n, 100), 'x');
    return std::min<std::size_t>(n, 100);
  }

 private:
  int reads_ = 0;
};

TEST(Md5Test, Rfc1321TestSuite) {
  EXPECT_EQ(Md5HexOf(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5HexOf("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5HexOf("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5HexOf("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5HexOf("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5HexOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5HexOf("1234567890123456789012345678901234567890"
                     "1234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5Test, StreamingInOddChunksEqualsOneShot) {
  const std::string data = RandomBytes(5000, 1);
  const std::string expected = Md5HexOf(data);
  for (std::size_t chunk : {1, 3, 7, 55, 63, 64, 65, 127, 129, 4999}) {
    Md5 md5;
    for (std::size_t pos = 0; pos < data.size(); pos += chunk) {
      md5.Update(data.data() + pos, std::min(chunk, data.size() - pos));
      md5.Update(nullptr, 0);  // empty updates change nothing
    }
    EXPECT_EQ(Md5Hex(md5.Finish()), expected) << "chunk " << chunk;
  }
}

TEST(Md5Test, FinishStartsAFreshMessage) {
  Md5 md5;
  md5.Update("first message", 13);
  md5.Finish();
  md5.Update("abc", 3);
  EXPECT_EQ(Md5Hex(md5.Finish()), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5Test, StreamReadsInBoundedPiecesWhateverTheReadSizes) {
  const std::string data = RandomBytes(3 * 1024 * 1024 + 3, 2);
  ChunkedInput input(data, {1, 4095, 64, 300000, 1 << 20, 77});
  EXPECT_EQ(Md5OfStream(input), Md5HexOf(data));
  EXPECT_LE(input.largest_request(), std::size_t{1} << 20);
}

TEST(Md5Test, StreamReadErrorReachesTheCaller) {
  FailingInput input;
  EXPECT_THROW(Md5OfStream(input), Error);
}

#ifndef _WIN32
// The digest that the md5sum program prints for a file.
std::string Md5sumOf(const std::filesystem::path& p) {
  const std::string cmd = "md5sum '" + p.string() + "'";
  FILE* pipe = popen(cmd.c_str(), "r");
  if (pipe == nullptr) return "";
  char line[128] = {};
  const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
  pclose(pipe);
  return got ? std::string(line).substr(0, 32) : "";
}

TEST(Md5Test, FilesOfAssortedSizesMatchMd5sum) {
  test::TempDir dir;
  for (std::size_t size : {0, 1, 55, 56, 63, 64, 65, 1024 * 1024 + 3}) {
    const auto path = dir / ("file" + std::to_string(size));
    test::WriteFile(path, RandomBytes(size, static_cast<unsigned>(size)));
    const std::string expected = Md5sumOf(path);
    ASSERT_EQ(expected.size(), 32u) << "md5sum did not answer for " << path;
    FileInput input(path);
    EXPECT_EQ(Md5OfStream(input), expected) << "size " << size;
  }
}
#endif  // md5sum is a POSIX tool

}  // namespace
}  // namespace mb
