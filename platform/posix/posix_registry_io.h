// File access of the .reg store: whole-file reads, an advisory write lock,
// and atomic replacement (temporary file + rename).
#pragma once

#include <string>

namespace mb::posix {

struct RegFileRead {
  enum class Status { kOk, kMissing, kError } status = Status::kError;
  std::string bytes;
  int error = 0;  // errno when not kOk
};

RegFileRead ReadRegistryFile(const std::string& path);

// Holds an exclusive flock on "<path>.lock" for its lifetime. The lock
// lives in a side file because the store itself is replaced by rename, and
// a lock on the replaced file would no longer exclude anyone.
class RegFileLock {
 public:
  explicit RegFileLock(const std::string& path);
  ~RegFileLock();
  RegFileLock(const RegFileLock&) = delete;
  RegFileLock& operator=(const RegFileLock&) = delete;

  int error() const { return error_; }  // errno, 0 when the lock is held

 private:
  int fd_ = -1;
  int error_ = 0;
};

// The file a write must replace: a symbolic link is followed so the link
// itself survives the rename.
std::string ResolveRegistryTarget(const std::string& path);

// Writes `bytes` to a new file beside `path`, keeping the old file's
// permissions, flushes it and renames it over `path`. Returns 0 or errno.
int ReplaceFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace mb::posix
