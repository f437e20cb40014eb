#include "platform/posix/posix_kept_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace mb::posix {

KeptFile::KeptFile(const std::string& path) : path_(path) {
  // 0666 lets the umask decide, as for any other file the agent writes.
  // Never through a link: one put in the scratch area would have the
  // download truncate and overwrite whatever it leads to.
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd_ < 0) return;
  struct stat st {};
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0 || fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd_);
    fd_ = -1;
    return;
  }
  size_ = st.st_size;
}

KeptFile::~KeptFile() {
  if (fd_ >= 0) close(fd_);
}

bool KeptFile::WriteFrom(std::int64_t offset) {
  return offset <= size_ && ftruncate(fd_, offset) == 0 && lseek(fd_, offset, SEEK_SET) == offset;
}

// Renamed while still locked, so no other agent takes it up in between.
bool KeptFile::Commit(const std::string& destination) {
  const bool moved = std::rename(path_.c_str(), destination.c_str()) == 0;
  const int fd = fd_;
  fd_ = -1;
  return close(fd) == 0 && moved;
}

void KeptFile::Discard() {
  if (fd_ < 0) return;
  unlink(path_.c_str());
  close(fd_);
  fd_ = -1;
}

}  // namespace mb::posix
