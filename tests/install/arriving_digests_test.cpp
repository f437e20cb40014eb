// The digests made while a download writes: the same MD5 and SHA-256 as
// the whole file's, whatever pieces arrive, across restarts, and rebuilt
// from a partial file before new bytes are appended to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "helpers/native_crypto.h"
#include "install/arriving_digests.h"
#include "trust/encoding.h"

namespace mb {
namespace {

std::string Sha256Hex(const std::string& bytes) {
  auto sha = test::NativeCrypto().NewSha256();
  sha->Update(bytes.data(), bytes.size());
  const platform::Sha256Digest d = sha->Finish();
  return trust::LowerHex(std::string_view(reinterpret_cast<const char*>(d.data()), d.size()));
}

// Bytes that are not the same in every chunk, in pieces of odd sizes.
std::string Noise(std::size_t size) {
  std::mt19937 random(7);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(random());
  return out;
}

void AppendInPieces(platform::BodySink& sink, const std::string& bytes) {
  std::size_t at = 0;
  for (std::size_t piece = 1; at < bytes.size(); piece = piece * 7 % 700001 + 1) {
    const std::size_t n = std::min(piece, bytes.size() - at);
    sink.Append(bytes.data() + at, n);
    at += n;
  }
}

class MemoryFile : public platform::InputFile {
 public:
  explicit MemoryFile(std::string bytes) : bytes_(std::move(bytes)) {}
  std::size_t Read(char* buf, std::size_t n) override {
    n = std::min(n, bytes_.size() - at_);
    std::memcpy(buf, bytes_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  std::string bytes_;
  std::size_t at_ = 0;
};

TEST(ArrivingDigests, EqualTheWholeFilesDigestsWhateverThePieces) {
  // More than the ring holds (16 x 64 KiB), so chunks are filled again.
  const std::string file = Noise(std::size_t{5} * 1024 * 1024 + 12345);
  ArrivingDigests digests(&test::NativeCrypto());
  digests.Restart();
  AppendInPieces(digests, file);
  const FileDigests d = digests.Finish();
  EXPECT_EQ(d.md5, Md5HexOf(file));
  EXPECT_EQ(d.sha256, Sha256Hex(file));

  ArrivingDigests md5_only(nullptr);
  md5_only.Append("abc", 3);
  EXPECT_EQ(md5_only.Finish().md5, "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5_only.Finish().sha256, "");
  EXPECT_EQ(md5_only.Finish().md5, Md5HexOf(""));  // nothing arrived
}

// A file up to 256 KiB is digested at the end, a larger one by the lanes.
TEST(ArrivingDigests, AgreeOnEitherSideOfTheFirstChunk) {
  for (const std::size_t size :
       {std::size_t{0}, std::size_t{262143}, std::size_t{262144}, std::size_t{262145}}) {
    const std::string file = Noise(size);
    ArrivingDigests digests(&test::NativeCrypto());
    AppendInPieces(digests, file);
    const FileDigests d = digests.Finish();
    EXPECT_EQ(d.md5, Md5HexOf(file)) << size;
    EXPECT_EQ(d.sha256, Sha256Hex(file)) << size;
  }
}

TEST(ArrivingDigests, ARestartForgetsWhatCameBefore) {
  ArrivingDigests digests(&test::NativeCrypto());
  AppendInPieces(digests, Noise(300000));
  digests.Restart();
  digests.Append("abc", 3);
  const FileDigests d = digests.Finish();
  EXPECT_EQ(d.md5, Md5HexOf("abc"));
  EXPECT_EQ(d.sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// How a download that takes up a partial file keeps its digests whole.
TEST(ArrivingDigests, ReplayingAPartialFileThenAppendingGivesTheWholesDigests) {
  const std::string file = Noise(700000);
  ArrivingDigests digests(&test::NativeCrypto());
  AppendInPieces(digests, "bytes of an earlier attempt");
  MemoryFile partial(file.substr(0, 400000));
  platform::ReplayInto(partial, digests);
  AppendInPieces(digests, file.substr(400000));
  const FileDigests d = digests.Finish();
  EXPECT_EQ(d.md5, Md5HexOf(file));
  EXPECT_EQ(d.sha256, Sha256Hex(file));
}

}  // namespace
}  // namespace mb
