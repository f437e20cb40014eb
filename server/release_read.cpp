#include "server/release_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mb::server {

ReleaseFd::~ReleaseFd() {
  if (fd_ >= 0) close(fd_);
}

ReleaseFd& ReleaseFd::operator=(ReleaseFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

int ReleaseFd::Release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

OpenedReleaseFile OpenReleaseFile(const std::filesystem::path& path) {
  OpenedReleaseFile opened;
  opened.fd = ReleaseFd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (opened.fd.Get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      opened.missing = true;
    } else if (errno == ELOOP) {
      opened.refusal =
          "a symbolic link (files are published only as themselves; links are "
          "for folders)";
    } else {
      opened.refusal = std::string("cannot be opened: ") + std::strerror(errno);
    }
    return opened;
  }
  struct stat st {};
  if (fstat(opened.fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    opened.fd = ReleaseFd();
    opened.refusal = "not a regular file";
  }
  return opened;
}

ReleaseText ReadReleaseText(const std::filesystem::path& path) {
  OpenedReleaseFile opened = OpenReleaseFile(path);
  ReleaseText text;
  text.refusal = opened.refusal;
  if (opened.fd.Get() < 0) return text;
  std::string bytes;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(opened.fd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      text.refusal = std::string("cannot be read: ") + std::strerror(errno);
      return text;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  text.bytes = std::move(bytes);
  return text;
}

}  // namespace mb::server
