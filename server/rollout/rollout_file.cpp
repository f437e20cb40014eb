#include "server/rollout/rollout_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "server/export_files.h"
#include "server/release_ini.h"

namespace mb::server {
namespace fs = std::filesystem;
namespace {

constexpr mode_t kFolderMode = 0755;

[[noreturn]] void Fail(const std::string& what, const fs::path& path) {
  throw std::runtime_error("cannot " + what + " " + path.string() + ": " + std::strerror(errno));
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

fs::path RolloutFolder(const fs::path& root) { return root / "rollout"; }

fs::path RolloutFile(const fs::path& root) { return RolloutFolder(root) / "rollout.ini"; }

RolloutRead ReadRolloutFile(const fs::path& root) {
  RolloutRead read;
  std::string why;
  std::optional<formats::ProfileDocument> ini = ReadReleaseIni(RolloutFile(root), why);
  if (!ini) {
    read.problems.push_back(RolloutFile(root).string() + ": " + why);
    return read;
  }
  std::vector<std::string> problems;
  read.state = ParseRolloutState(*ini, problems);
  for (const std::string& p : problems)
    read.problems.push_back(RolloutFile(root).string() + ": " + p);
  return read;
}

std::string RolloutFileStamp(const fs::path& root) {
  struct stat st {};
  if (lstat(RolloutFile(root).c_str(), &st) != 0) return "none";
  return std::to_string(st.st_ino) + " " + std::to_string(st.st_size) + " " +
         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + " " +
         std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec);
}

RolloutState UpdateRolloutFile(const fs::path& root,
                               const std::function<void(RolloutState&)>& change) {
  const fs::path folder = RolloutFolder(root);
  if (mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST) Fail("make the folder", folder);
  Descriptor lock(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (lock.Get() < 0) Fail("open the folder", folder);
  while (flock(lock.Get(), LOCK_EX) != 0) {
    if (errno != EINTR) Fail("lock", folder);
  }
  RolloutRead read = ReadRolloutFile(root);
  if (!read.problems.empty())
    throw std::runtime_error(read.problems.front() +
                             " (mend or remove the file; a rewrite would drop it)");
  change(read.state);
  // A new file beside the state, on disk before it is renamed over it.
  ReplaceFile(RolloutFile(root), RolloutStateText(read.state), true);
  return read.state;
}

}  // namespace mb::server
