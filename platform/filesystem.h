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
  std::int64_t age_seconds = 0;  // since it was last written
  std::int64_t size = 0;         // a file's length in bytes
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
  virtual void DeleteFile(const std::string& path) = 0;
  // Copies, replacing the destination. The destination is complete or, on
  // failure, unchanged: the copy goes through a temporary name beside it.
  virtual void CopyFile(const std::string& from, const std::string& to) = 0;
  // Renames, replacing the destination (atomic on one volume).
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  virtual std::unique_ptr<InputFile> OpenRead(const std::string& path) = 0;
  // Appends bytes, creating the file when missing.
  virtual void Append(const std::string& path, const std::string& bytes) = 0;
  // Makes a file runnable where the OS needs it (POSIX: the x bits).
  virtual void MakeExecutable(const std::string& path) = 0;
  // The entries of a folder, "." and ".." left out, in no order. Raises when
  // the folder cannot be read.
  virtual std::vector<FolderEntry> ListFolder(const std::string& path) = 0;
};

}  // namespace mb::platform
