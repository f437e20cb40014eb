#include "platform/posix/posix_instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/posix_path.h"

namespace mb::posix {
namespace {

constexpr const char* kLockFile = "instance.lock";

class FlockLock : public platform::InstanceLock {
 public:
  explicit FlockLock(int fd) : fd_(fd) {}
  ~FlockLock() override {
    if (fd_ >= 0) ::close(fd_);  // closing the only descriptor releases the lock
  }
  FlockLock(const FlockLock&) = delete;
  FlockLock& operator=(const FlockLock&) = delete;

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<platform::InstanceLock> TryLockInstanceDir(const std::string& install_dir) {
  const std::string update = ToPosixPath(install_dir) + "/update";
  ::mkdir(update.c_str(), 0777);  // made by the first program; EEXIST otherwise
  // Never through a link, neither the folder nor the file: both are the
  // program's own (an update folder that is a link is refused later).
  const int dir = ::open(update.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return std::make_unique<FlockLock>(-1);
  const int fd = ::openat(dir, kLockFile, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  ::close(dir);
  if (fd < 0) return std::make_unique<FlockLock>(-1);
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    if (held) return nullptr;
    return std::make_unique<FlockLock>(-1);  // flock not supported here
  }
  return std::make_unique<FlockLock>(fd);
}

}  // namespace mb::posix
