// How the static export writes into its output folder, which other users
// may share: it never writes through a link somebody planted there (new
// files are created exclusively, others replaced by a rename), and it gives
// what it writes the modes nginx's workers need whatever the umask
// (folders 0755, files 0644): started as root, nginx serves as an
// unprivileged user.
#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace mb::server {

// Makes the folder (and the missing ones above it) with mode 0755; a
// folder that is there already is left as it is. Throws std::runtime_error.
void MakeExportFolder(const std::filesystem::path& dir);

// Writes a file that must not exist yet (never through a link), mode 0644,
// its modification time set when modified > 0. write gets a function that
// appends bytes and throws on failure. Throws std::runtime_error.
using Sink = std::function<void(const char*, std::size_t)>;
void WriteNewFile(const std::filesystem::path& path, std::time_t modified,
                  const std::function<void(const Sink&)>& write, bool durable = false);
void WriteNewFile(const std::filesystem::path& path, const std::string& bytes,
                  std::time_t modified = 0);

// Puts bytes at path by writing a new file beside it and renaming it over
// whatever is there (a link is replaced, not followed); `durable`: the new
// file is on disk before the rename (and the rename before it returns).
void ReplaceFile(const std::filesystem::path& path, const std::string& bytes, bool durable = false);
// Points the link at target, replacing whatever is at path in one rename.
void ReplaceLink(const std::filesystem::path& path, const std::filesystem::path& target);

// The folders from / down to dir that others cannot pass through (no o+x):
// nginx's workers could not reach the export.
std::vector<std::string> ClosedToOthers(const std::filesystem::path& dir);

// An exclusive lock on dir/.export.lock for as long as it lives, or an
// error when another export holds it.
class ExportLock {
 public:
  explicit ExportLock(const std::filesystem::path& dir);
  ~ExportLock();
  ExportLock(const ExportLock&) = delete;
  ExportLock& operator=(const ExportLock&) = delete;

 private:
  int fd_;
};

}  // namespace mb::server
