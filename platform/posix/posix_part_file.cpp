#include "platform/posix/posix_part_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/temporary_names.h"

namespace mb::posix {

PartFile::PartFile(const std::string& destination) : destination_(destination) {
  const auto slash = destination.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : destination.substr(0, slash + 1);
  const std::string name = destination.substr(dir.size());
  if (name.empty() || name == "." || name == "..") return;
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temp_path_ = dir + platform::TemporaryName(name, platform::TemporaryKind::kDownload,
                                               platform::RandomTemporaryTag());
    // 0666 lets the umask decide, as for any other file the agent writes.
    fd_ = open(temp_path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST) break;
  }
}

PartFile::~PartFile() {
  if (fd_ >= 0) close(fd_);
  if (created() && !committed_) unlink(temp_path_.c_str());
}

bool PartFile::Commit() {
  const int fd = fd_;
  fd_ = -1;
  closed_ = true;
  if (close(fd) != 0) return false;
  committed_ = rename(temp_path_.c_str(), destination_.c_str()) == 0;
  return committed_;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace mb::posix
