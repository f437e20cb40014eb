// A mount made for one test (a size-limited tmpfs, a read-only bind
// mount), gone with it: real failures of the file system where the test
// may mount (as root), since root ignores permission bits.
#pragma once

#include <sys/mount.h>

#include <string>

#include "faults/fault_fixture.h"

namespace mb::test {

// A mount made for one test, gone with it.
class ScopedMount {
 public:
  ~ScopedMount() {
    if (!path_.empty()) umount2(path_.c_str(), MNT_DETACH);
  }
  // A tmpfs of `size` (e.g. "64k") over dir, keeping the files dir held.
  bool Tmpfs(const std::string& dir, const std::string& size) {
    const auto files = Snapshot(dir);
    if (mount("tmpfs", dir.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0) return false;
    path_ = dir;
    for (const auto& [name, bytes] : files) WriteFile(fault_fs::path(dir) / name, bytes);
    return true;
  }
  bool Resize(const std::string& size) {
    return mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT, ("size=" + size).c_str()) == 0;
  }
  bool ReadOnly(const std::string& dir) {
    if (mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
    path_ = dir;
    return mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
  }
  void Unmount() {
    umount2(path_.c_str(), MNT_DETACH);
    path_.clear();
  }

 private:
  std::string path_;
};

}  // namespace mb::test
