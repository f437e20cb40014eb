// File-system services through the W functions: the agent's UTF-8 paths
// become UTF-16, so no path depends on the ANSI code page.
#pragma once

#include <string>

#include "platform/filesystem.h"
#include "platform/temporary_names.h"

namespace mb::win32 {

class Win32FileSystem : public platform::FileSystem {
 public:
  bool IsOrdinaryFile(const std::string& path) override;
  bool Exists(const std::string& path) override;
  // "\\server\share\dir", "\dir" (the current drive's top) and "C:\dir".
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

// Whether the open file is a link (a reparse point), which was opened as
// itself (FILE_FLAG_OPEN_REPARSE_POINT) rather than followed.
bool IsReparsePoint(void* handle);

// A name beside `path` for a file being written before it replaces `path`
// (platform/temporary_names.h): hidden by its leading dot on POSIX, named
// alike here so that a crash's leftovers are known in both builds.
std::wstring TempNameBeside(const std::wstring& path, platform::TemporaryKind kind);

}  // namespace mb::win32
