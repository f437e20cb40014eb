// A release file as it is published: opened once, its MD5 taken from that
// open file, its stamps (size, modification and change times) noted.
//
// The bytes served are always read from this open file. A file replaced by
// a rename keeps its old bytes here, which are exactly what the manifest of
// the same snapshot describes, until the next snapshot opens the new one.
// A file written over in place changes its stamps: it is then no longer
// served from this snapshot (Unchanged() turns false), because its bytes
// may no longer be those of the published digest.
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
  // Nothing when the file cannot be opened and read to its end.
  static std::shared_ptr<const PublishedBytes> Open(const std::filesystem::path& path);
  ~PublishedBytes();
  PublishedBytes(const PublishedBytes&) = delete;
  PublishedBytes& operator=(const PublishedBytes&) = delete;

  std::uint64_t Size() const { return size_; }
  const std::string& Md5Hex() const { return md5_; }
  std::time_t ModifiedTime() const { return mtime_.tv_sec; }
  // False once the file was written, truncated or touched since its digest.
  bool Unchanged() const;
  // Reads up to n bytes at offset; -1 on failure.
  ssize_t Read(std::uint64_t offset, char* buffer, std::size_t n) const;
  // The bytes, for tests and the export; nothing when they changed.
  std::optional<std::string> ReadAll() const;

 private:
  explicit PublishedBytes(int fd) : fd_(fd) {}
  bool StampsMatch(const struct stat& now) const;

  int fd_;
  std::uint64_t size_ = 0;
  timespec mtime_{};
  timespec ctime_{};
  std::string md5_;
};

}  // namespace mb::server
