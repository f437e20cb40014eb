#include "platform/posix/posix_registry_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace mb::posix {
namespace {

int ReadAll(int fd, std::string* out) {
  char buf[16384];
  while (true) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    out->append(buf, static_cast<std::size_t>(n));
  }
}

int WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

std::string ParentDir(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes the rename itself durable.
void SyncDir(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

int WriteTemp(int fd, const std::string& path, const std::string& bytes) {
  struct stat old {};
  const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  if (::fchmod(fd, mode) != 0) return errno;
  if (const int err = WriteAll(fd, bytes)) return err;
  return ::fsync(fd) == 0 ? 0 : errno;
}

}  // namespace

RegFileRead ReadRegistryFile(const std::string& path) {
  RegFileRead result;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    result.error = errno;
    const bool missing = errno == ENOENT || errno == ENOTDIR;
    result.status = missing ? RegFileRead::Status::kMissing : RegFileRead::Status::kError;
    return result;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    result.error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    result.error = EISDIR;
  } else {
    result.error = ReadAll(fd, &result.bytes);
  }
  ::close(fd);
  if (result.error == 0) result.status = RegFileRead::Status::kOk;
  return result;
}

RegFileLock::RegFileLock(const std::string& path) {
  const std::string lock_path = path + ".lock";
  fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    error_ = errno;
    return;
  }
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      error_ = errno;
      return;
    }
  }
}

RegFileLock::~RegFileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

std::string ResolveRegistryTarget(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

int ReplaceFileAtomically(const std::string& path, const std::string& bytes) {
  std::string temp = path + ".tmpXXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  temp = name.data();
  int err = WriteTemp(fd, path, bytes);
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    return err;
  }
  SyncDir(ParentDir(path));
  return 0;
}

}  // namespace mb::posix
