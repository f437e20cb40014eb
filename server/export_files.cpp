#include "server/export_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace mb::server {
namespace fs = std::filesystem;
namespace {

constexpr mode_t kFolderMode = 0755;
constexpr mode_t kFileMode = 0644;

[[noreturn]] void Fail(const std::string& what, const fs::path& path) {
  throw std::runtime_error("cannot " + what + " " + path.string() + ": " + std::strerror(errno));
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

void WriteAll(int fd, const char* data, std::size_t size, const fs::path& path) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("write", path);
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace

void MakeExportFolder(const fs::path& dir) {
  if (dir.empty()) return;
  struct stat st {};
  if (stat(dir.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) throw std::runtime_error(dir.string() + " is not a folder");
    return;
  }
  if (dir.has_parent_path() && dir.parent_path() != dir) MakeExportFolder(dir.parent_path());
  if (mkdir(dir.c_str(), kFolderMode) != 0 && errno != EEXIST) Fail("make the folder", dir);
  if (chmod(dir.c_str(), kFolderMode) != 0) Fail("set the mode of", dir);
}

void WriteNewFile(const fs::path& path, std::time_t modified,
                  const std::function<void(const Sink&)>& write_bytes, bool durable) {
  Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
  if (fd.get() < 0) Fail("create", path);
  if (fchmod(fd.get(), kFileMode) != 0) Fail("set the mode of", path);
  write_bytes([&](const char* data, std::size_t size) { WriteAll(fd.get(), data, size, path); });
  if (modified > 0) {
    timespec times[2] = {{modified, 0}, {modified, 0}};
    if (futimens(fd.get(), times) != 0) Fail("set the time of", path);
  }
  if (durable && fsync(fd.get()) != 0) Fail("write", path);
}

void WriteNewFile(const fs::path& path, const std::string& bytes, std::time_t modified) {
  WriteNewFile(path, modified, [&](const Sink& sink) { sink(bytes.data(), bytes.size()); });
}

void ReplaceFile(const fs::path& path, const std::string& bytes, bool durable) {
  fs::path fresh = path;
  fresh += ".new-" + std::to_string(getpid());
  unlink(fresh.c_str());
  try {
    WriteNewFile(
        fresh, 0, [&](const Sink& sink) { sink(bytes.data(), bytes.size()); }, durable);
  } catch (...) {
    unlink(fresh.c_str());
    throw;
  }
  if (rename(fresh.c_str(), path.c_str()) != 0) {
    unlink(fresh.c_str());
    Fail("replace", path);
  }
  if (!durable) return;
  Fd folder(open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() < 0 || fsync(folder.get()) != 0) Fail("write in", path.parent_path());
}

void ReplaceLink(const fs::path& path, const fs::path& target) {
  fs::path fresh = path;
  fresh += ".new-" + std::to_string(getpid());
  unlink(fresh.c_str());
  if (symlink(target.c_str(), fresh.c_str()) != 0) Fail("make the link", fresh);
  if (rename(fresh.c_str(), path.c_str()) != 0) {
    unlink(fresh.c_str());
    Fail("replace", path);
  }
}

std::vector<std::string> ClosedToOthers(const fs::path& dir) {
  std::vector<std::string> closed;
  fs::path at;
  for (const fs::path& part : fs::absolute(dir).lexically_normal()) {
    if (part.empty()) continue;
    at /= part;
    struct stat st {};
    if (stat(at.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_IXOTH) == 0)
      closed.push_back(at.string());
  }
  return closed;
}

ExportLock::ExportLock(const fs::path& dir) {
  fs::path path = dir / ".export.lock";
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd_ < 0) Fail("open", path);
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    close(fd_);
    throw std::runtime_error("another export to " + dir.string() + " is running");
  }
}

ExportLock::~ExportLock() { close(fd_); }

}  // namespace mb::server
