#include "platform/posix/posix_filesystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include "platform/path_root.h"
#include "platform/posix/posix_path.h"
#include "platform/temporary_names.h"
#include "support/error.h"

namespace mb::posix {

void ThrowPosixError(int err) { throw Error(err, std::strerror(err)); }

namespace {

// An owned file descriptor.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now, raising the error a close can report (data not written).
  void Close() {
    int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) ThrowPosixError(errno);
  }

 private:
  int fd_;
};

int OpenOrThrow(const std::string& path, int flags, mode_t mode = 0) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  if (fd < 0) ThrowPosixError(errno);
  return fd;
}

struct stat StatOrThrow(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) ThrowPosixError(errno);
  return st;
}

void WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ThrowPosixError(errno);
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

std::size_t ReadSome(int fd, char* buf, std::size_t n) {
  while (true) {
    ssize_t got = ::read(fd, buf, n);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) ThrowPosixError(errno);
  }
}

void CopyContents(int from, int to) {
  std::vector<char> buf(1 << 16);
  while (std::size_t n = ReadSome(from, buf.data(), buf.size())) {
    WriteAll(to, buf.data(), n);
  }
}

std::string ParentOf(const std::string& posix_path) {
  const std::size_t slash = posix_path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : posix_path.substr(0, slash);
}

// What an error of the system means for replacing a file or writing in a
// folder.
platform::AccessCheck AccessOf(int err) {
  platform::AccessCheck check{platform::Access::kFailed, std::strerror(err)};
  if (err == ENOENT || err == ENOTDIR) check.access = platform::Access::kMissing;
  if (err == EACCES || err == EPERM || err == EROFS) check.access = platform::Access::kDenied;
  return check;
}

std::string BaseName(const std::string& posix_path) {
  std::size_t slash = posix_path.rfind('/');
  return slash == std::string::npos ? posix_path : posix_path.substr(slash + 1);
}

// A new file beside `target`, hidden by its leading dot, removed again
// unless it is renamed over the target.
class TempFileBeside {
 public:
  explicit TempFileBeside(const std::string& target) : path_(Template(target)) {
    fd_ = ::mkostemp(path_.data(), O_CLOEXEC);  // O_EXCL: never an existing file
    if (fd_ < 0) ThrowPosixError(errno);
  }
  ~TempFileBeside() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(path_.c_str());
  }
  TempFileBeside(const TempFileBeside&) = delete;
  TempFileBeside& operator=(const TempFileBeside&) = delete;
  int fd() const { return fd_; }

  // Makes the data durable, then puts the file in the target's place.
  void CommitAs(const std::string& target) {
    if (::fsync(fd_) != 0) ThrowPosixError(errno);
    int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) ThrowPosixError(errno);
    if (::rename(path_.c_str(), target.c_str()) != 0) ThrowPosixError(errno);
    committed_ = true;
  }

 private:
  static std::string Template(const std::string& target) {
    const std::string name = BaseName(target);
    const std::string dir = target.substr(0, target.size() - name.size());
    return dir + platform::TemporaryName(name, platform::TemporaryKind::kCopy, "XXXXXX");
  }

  std::string path_;
  int fd_ = -1;
  bool committed_ = false;
};

// An open folder, closed on every path.
class Dir {
 public:
  explicit Dir(const std::string& path) : dir_(::opendir(path.c_str())) {
    if (dir_ == nullptr) ThrowPosixError(errno);
  }
  ~Dir() { ::closedir(dir_); }
  Dir(const Dir&) = delete;
  Dir& operator=(const Dir&) = delete;
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

class PosixInputFile : public platform::InputFile {
 public:
  explicit PosixInputFile(int fd) : fd_(fd) {}
  std::size_t Read(char* buf, std::size_t n) override { return ReadSome(fd_.get(), buf, n); }

 private:
  Fd fd_;
};

}  // namespace

// Wine shows a file whose name starts with "." as hidden, and a hidden file
// is not an ordinary file.
bool PosixFileSystem::IsOrdinaryFile(const std::string& path) {
  std::string p = ToPosixPath(path);
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::string name = BaseName(p);
  return !name.empty() && name[0] != '.';
}

bool PosixFileSystem::Exists(const std::string& path) {
  struct stat st {};
  return ::stat(ToPosixPath(path).c_str(), &st) == 0;
}

// A network path "\\server\share\dir" becomes "//server/share/dir", which
// POSIX reads as "/server/share/dir", where such a share would be mounted;
// the share's two levels are never made. "C:\dir" would be a folder "C:"
// below the working directory: not absolute.
std::optional<std::size_t> PosixFileSystem::RootLength(const std::string& path) {
  return platform::PathRootLength(path, false);
}

void PosixFileSystem::CreateDirectory(const std::string& path) {
  if (::mkdir(ToPosixPath(path).c_str(), 0777) != 0) ThrowPosixError(errno);
}

void PosixFileSystem::DeleteFile(const std::string& path) {
  if (::unlink(ToPosixPath(path).c_str()) != 0) ThrowPosixError(errno);
}

// The destination is replaced only by a complete, synced copy, so a failure
// at any point (or a crash) leaves it as it was. Copying a file onto itself
// is harmless for the same reason.
void PosixFileSystem::CopyFile(const std::string& from, const std::string& to) {
  Fd src(OpenOrThrow(ToPosixPath(from), O_RDONLY));
  struct stat st {};
  if (::fstat(src.get(), &st) != 0) ThrowPosixError(errno);
  std::string target = ToPosixPath(to);
  TempFileBeside temp(target);
  if (::fchmod(temp.fd(), st.st_mode & 0777) != 0) ThrowPosixError(errno);
  CopyContents(src.get(), temp.fd());
  temp.CommitAs(target);
}

void PosixFileSystem::Rename(const std::string& from, const std::string& to) {
  if (::rename(ToPosixPath(from).c_str(), ToPosixPath(to).c_str()) != 0) {
    ThrowPosixError(errno);
  }
}

std::unique_ptr<platform::InputFile> PosixFileSystem::OpenRead(const std::string& path) {
  return std::make_unique<PosixInputFile>(OpenOrThrow(ToPosixPath(path), O_RDONLY));
}

void PosixFileSystem::Append(const std::string& path, const std::string& bytes) {
  Fd fd(OpenOrThrow(ToPosixPath(path), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW, 0666));
  WriteAll(fd.get(), bytes.data(), bytes.size());
  fd.Close();
}

// A link is no file here: what it leads to is not the folder's to remove.
std::vector<platform::FolderEntry> PosixFileSystem::ListFolder(const std::string& path) {
  Dir dir(ToPosixPath(path));
  std::vector<platform::FolderEntry> entries;
  const std::time_t now = std::time(nullptr);
  errno = 0;
  while (const dirent* e = ::readdir(dir.get())) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone
    entries.push_back({name, S_ISREG(st.st_mode), S_ISLNK(st.st_mode),
                       std::max<std::int64_t>(now - st.st_mtime, 0),
                       static_cast<std::int64_t>(st.st_size)});
    errno = 0;
  }
  if (errno != 0) ThrowPosixError(errno);
  return entries;
}

bool PosixFileSystem::IsLink(const std::string& path) {
  struct stat st {};
  return ::lstat(ToPosixPath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// unlink removes a link to a folder as a link.
void PosixFileSystem::RemoveLink(const std::string& path) {
  if (!IsLink(path)) ThrowPosixError(EINVAL);
  if (::unlink(ToPosixPath(path).c_str()) != 0) ThrowPosixError(errno);
}

void PosixFileSystem::WriteWhole(const std::string& path, const std::string& bytes) {
  const std::string target = ToPosixPath(path);
  TempFileBeside temp(target);
  // The file keeps its permissions; a new one is readable by all, as the
  // agent's other records are.
  struct stat st {};
  const mode_t mode = ::stat(target.c_str(), &st) == 0 ? st.st_mode & 07777 : 0644;
  if (::fchmod(temp.fd(), mode) != 0) ThrowPosixError(errno);
  WriteAll(temp.fd(), bytes.data(), bytes.size());
  temp.CommitAs(target);
}

// Renaming a file takes write access to its folder (and, where the folder
// is sticky, owning the file or the folder); what holds the file open does
// not matter here, so nothing is ever in use.
platform::AccessCheck PosixFileSystem::CanReplace(const std::string& path) {
  const std::string p = ToPosixPath(path);
  struct stat st {};
  if (::lstat(p.c_str(), &st) != 0) return AccessOf(errno);
  const std::string dir = ParentOf(p);
  struct stat dir_st {};
  if (::stat(dir.c_str(), &dir_st) != 0) return AccessOf(errno);
  if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return AccessOf(errno);
  const uid_t me = ::geteuid();
  if ((dir_st.st_mode & S_ISVTX) && me != 0 && me != st.st_uid && me != dir_st.st_uid) {
    return AccessOf(EPERM);
  }
  return {};
}

platform::AccessCheck PosixFileSystem::CanWriteIn(const std::string& dir) {
  const std::string d = ToPosixPath(dir);
  struct stat st {};
  if (::stat(d.c_str(), &st) != 0) return AccessOf(errno);
  if (!S_ISDIR(st.st_mode)) return AccessOf(ENOTDIR);
  std::string probe = (d.empty() || d.back() != '/' ? d + "/" : d) +
                      platform::TemporaryName("probe", platform::TemporaryKind::kCopy, "XXXXXX");
  const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
  if (fd < 0) return AccessOf(errno);
  ::close(fd);
  ::unlink(probe.c_str());
  return {};
}

// Executable by whoever may read it, as a Windows program is runnable by
// anyone who can read it.
void PosixFileSystem::MakeExecutable(const std::string& path) {
  std::string p = ToPosixPath(path);
  mode_t mode = StatOrThrow(p).st_mode & 07777;
  if (::chmod(p.c_str(), mode | ((mode & 0444) >> 2)) != 0) ThrowPosixError(errno);
}

}  // namespace mb::posix
