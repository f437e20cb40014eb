// A release file as it is published: read once, its MD5 taken from the
// bytes read. A small file (up to kHeldFileBytes, while the snapshot's
// memory budget lasts) is kept in memory: exactly the bytes of its digest,
// whatever happens to the file later. A larger one is kept open, its stamps
// (size, modification and change times) noted.
//
// The bytes served always come from here. A file replaced by a rename keeps
// its old bytes in the open file, which are exactly what the manifest of
// the same snapshot describes, until the next snapshot opens the new one.
// A file written over in place changes its stamps: it is then no longer
// served from this snapshot (Unchanged() turns false), because its bytes
// may no longer be those of the published digest. (A write that keeps the
// size within one tick of the file system's clock would not show; small
// files, held in memory, are immune.)
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace mb::server {

class PublishedBytes {
 public:
  static constexpr std::uint64_t kHeldFileBytes = std::uint64_t{1} << 20;

  // Nothing, with the reason in why, when the file is refused (see
  // release_read.h) or cannot be read to its end. A file held in memory
  // takes its size from memory_budget. The SHA-256 is taken too when asked
  // (signed components).
  static std::shared_ptr<const PublishedBytes> Open(const std::filesystem::path& path,
                                                    std::uint64_t& memory_budget, std::string& why,
                                                    bool with_sha256 = false);
  ~PublishedBytes();
  PublishedBytes(const PublishedBytes&) = delete;
  PublishedBytes& operator=(const PublishedBytes&) = delete;

  std::uint64_t Size() const { return size_; }
  const std::string& Md5Hex() const { return md5_; }
  const std::string& Sha256Hex() const { return sha256_; }  // empty unless asked for
  std::time_t ModifiedTime() const { return mtime_.tv_sec; }
  // False once the file was written, truncated or touched since its digest
  // (never for a file held in memory).
  bool Unchanged() const;
  // The bytes, when they are held in memory; else nullptr.
  const std::string* Held() const { return held_ ? &bytes_ : nullptr; }
  // Reads up to n bytes at offset; -1 on failure.
  ssize_t Read(std::uint64_t offset, char* buffer, std::size_t n) const;
  // The bytes, for tests and the export; nothing when they changed.
  std::optional<std::string> ReadAll() const;

 private:
  explicit PublishedBytes(int fd) : fd_(fd) {}
  bool StampsMatch(const struct stat& now) const;
  bool StampsMatchNow() const;

  bool ReadAndDigest(bool hold, bool with_sha256);

  int fd_;
  bool held_ = false;
  std::string bytes_;  // when held
  std::uint64_t size_ = 0;
  timespec mtime_{};
  timespec ctime_{};
  std::string md5_;
  std::string sha256_;
};

}  // namespace mb::server
