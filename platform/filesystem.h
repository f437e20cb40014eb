// File-system services. Paths are the agent's Windows-style paths in UTF-8
// ("\" separators); a backend maps them to its OS (POSIX: "\" becomes "/").
// Failures raise mb::Error with the OS error code and its description.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mb::platform {

// One entry of a folder.
struct FolderEntry {
  std::string name;
  bool is_file = false;          // a regular file (hidden or not); not a folder or a link
  bool is_link = false;          // a symbolic link, a junction or another reparse point
  std::int64_t age_seconds = 0;  // since it was last written
  std::int64_t size = 0;         // a file's length in bytes
};

// Whether something can be done to a file or in a folder now, and if not,
// why: the part of a failure that decides what to do about it.
enum class Access {
  kAllowed,
  kMissing,  // no such file (or folder)
  kInUse,    // another program holds the file so that it cannot be renamed
  kDenied,   // this user may not: permissions, a read-only file system
  kFailed,   // anything else
};

struct AccessCheck {
  Access access = Access::kAllowed;
  std::string reason;  // the system's words, empty when allowed
  bool Allowed() const { return access == Access::kAllowed; }
};

class InputFile {
 public:
  virtual ~InputFile() = default;
  // Reads up to n bytes; returns 0 at the end of the file. Raises on error.
  virtual std::size_t Read(char* buf, std::size_t n) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // An ordinary file: a regular file that is neither hidden nor a system
  // file (POSIX: a regular file whose name does not start with ".").
  virtual bool IsOrdinaryFile(const std::string& path) = 0;
  // Anything of that name: a directory or a file.
  virtual bool Exists(const std::string& path) = 0;
  // The length of the root of an absolute path on this system (see
  // platform/path_root.h: a share, "\" or, where there are drives, "C:"),
  // nullopt for a path that is not absolute here.
  virtual std::optional<std::size_t> RootLength(const std::string& path) = 0;

  virtual void CreateDirectory(const std::string& path) = 0;  // one level
  // Removes a file, also a read-only one (Windows refuses to delete such a
  // file as it is; POSIX never asks).
  virtual void DeleteFile(const std::string& path) = 0;
  // Copies, replacing the destination. The destination is complete or, on
  // failure, unchanged: the copy goes through a temporary name beside it.
  virtual void CopyFile(const std::string& from, const std::string& to) = 0;
  // Renames, replacing the destination (atomic on one volume).
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  virtual std::unique_ptr<InputFile> OpenRead(const std::string& path) = 0;
  // Appends bytes, creating the file when missing; a file that is a link is
  // refused, never written through.
  virtual void Append(const std::string& path, const std::string& bytes) = 0;
  // Makes a file runnable where the OS needs it (POSIX: the x bits).
  virtual void MakeExecutable(const std::string& path) = 0;
  // The entries of a folder, "." and ".." left out, in no order. Raises when
  // the folder cannot be read.
  virtual std::vector<FolderEntry> ListFolder(const std::string& path) = 0;

  // Whether `path` itself is a link (a symbolic link, a junction, another
  // reparse point), not what it leads to.
  virtual bool IsLink(const std::string& path) = 0;
  // Removes the link `path` itself, never what it leads to (a link to a
  // folder leaves the folder and its files as they are). Raises mb::Error.
  virtual void RemoveLink(const std::string& path) = 0;
  // Writes `bytes` as the whole file: through a temporary beside it, made
  // durable, then renamed over it, so a reader (or a crash) finds the old
  // file or the new one, never a part.
  virtual void WriteWhole(const std::string& path, const std::string& bytes) = 0;
  // Whether the file at `path` could be renamed away now, the first step of
  // replacing it: kMissing when there is none, kInUse when another program
  // holds it open without letting it be renamed (Windows: without
  // FILE_SHARE_DELETE; a loaded program file may be renamed), kDenied when
  // this user may not. Changes nothing.
  virtual AccessCheck CanReplace(const std::string& path) = 0;
  // Whether a new file can be made in the folder `dir` (by making one and
  // removing it again): kMissing when there is no such folder.
  virtual AccessCheck CanWriteIn(const std::string& dir) = 0;
};

}  // namespace mb::platform
