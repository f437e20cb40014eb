// The file that keeps a resumable download's bytes (platform/
// transfer_resume.h): opened where the caller named it, made when missing,
// and locked for this process, so two agents never write into one. Unlike a
// temporary file it outlives a failed transfer, unless Discard()ed.
#pragma once

#include <cstdint>
#include <string>

namespace mb::posix {

class KeptFile {
 public:
  explicit KeptFile(const std::string& path);  // a POSIX path
  ~KeptFile();
  KeptFile(const KeptFile&) = delete;
  KeptFile& operator=(const KeptFile&) = delete;

  // False when the file cannot be opened, or another process holds it.
  bool open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Its length when it was opened.
  std::int64_t size() const { return size_; }
  // The body goes on at `offset` (0: the file starts over): what lies
  // beyond is cut off and writes go there.
  bool WriteFrom(std::int64_t offset);
  // Closes the file and renames it over the destination.
  bool Commit(const std::string& destination);
  // Closes and removes it: its bytes are of no use to a later attempt.
  void Discard();

 private:
  std::string path_;
  int fd_ = -1;
  std::int64_t size_ = 0;
};

}  // namespace mb::posix
