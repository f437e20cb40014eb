// The file system of the POSIX build: the agent's "\" paths mapped to "/",
// failures raised as mb::Error carrying errno and its description.
#pragma once

#include <memory>
#include <string>

#include "platform/filesystem.h"

namespace mb::posix {

class PosixFileSystem : public platform::FileSystem {
 public:
  bool IsOrdinaryFile(const std::string& path) override;
  bool Exists(const std::string& path) override;
  // "\\server\share\dir" and "\dir" (the top of the tree); a drive
  // letter means nothing here.
  std::optional<std::size_t> RootLength(const std::string& path) override;
  void CreateDirectory(const std::string& path) override;
  void DeleteFile(const std::string& path) override;
  void CopyFile(const std::string& from, const std::string& to) override;
  void Rename(const std::string& from, const std::string& to) override;
  std::unique_ptr<platform::InputFile> OpenRead(const std::string& path) override;
  void Append(const std::string& path, const std::string& bytes) override;
  void MakeExecutable(const std::string& path) override;
  std::vector<platform::FolderEntry> ListFolder(const std::string& path) override;
  bool IsLink(const std::string& path) override;
  void RemoveLink(const std::string& path) override;
  void WriteWhole(const std::string& path, const std::string& bytes) override;
  platform::AccessCheck CanReplace(const std::string& path) override;
  platform::AccessCheck CanWriteIn(const std::string& dir) override;
};

// The error for the current errno (or `err`), as every POSIX layer raises it.
[[noreturn]] void ThrowPosixError(int err);

}  // namespace mb::posix
