#include "server/log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace mb::server {
namespace {

int OpenForAppending(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
}

}  // namespace

LogFile::LogFile(std::string path) : path_(std::move(path)), fd_(2) {
  if (path_.empty()) return;
  fd_ = OpenForAppending(path_);
  if (fd_ < 0) throw std::runtime_error("cannot open the log file " + path_);
}

LogFile::~LogFile() {
  if (fd_ != 2) close(fd_);
}

void LogFile::Write(const std::string& line) const {
  const char* p = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    ssize_t n = write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a full disk must not stop the server
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

bool LogFile::Reopen() {
  if (path_.empty()) return true;
  int fresh = OpenForAppending(path_);
  if (fresh < 0) return false;
  // The descriptor number stays: a thread writing now writes to the old
  // file or the new one, never to a closed or reused descriptor.
  bool moved = dup3(fresh, fd_, O_CLOEXEC) >= 0;
  close(fresh);
  return moved;
}

}  // namespace mb::server
