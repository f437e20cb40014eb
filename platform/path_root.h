// The root of an absolute agent path: the part that names a network share,
// a drive or the top of the tree. Folder-making steps never create it; what
// lies below it they may. "\" and "/" both separate, as Windows takes them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace mb::platform {

inline bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

// The length of the root of `path`, or nullopt when the path is not
// absolute (relative, drive-relative "C:dir", a lone "\\server", a device
// path "\\?\..." or "\\.\...", or a drive path where there are no drives):
//   \\server\share\dir  ->  \\server\share
//   \dir                ->  \               (the current drive's or the tree's top)
//   C:\dir              ->  C:              (only with drive_letters)
inline std::optional<std::size_t> PathRootLength(const std::string& path, bool drive_letters) {
  const std::size_t n = path.size();
  if (n >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
    std::size_t server_end = 2;
    while (server_end < n && !IsPathSeparator(path[server_end])) ++server_end;
    const std::string server = path.substr(2, server_end - 2);
    if (server.empty() || server == "." || server == "?" || server_end == n) return std::nullopt;
    std::size_t share_end = server_end + 1;
    while (share_end < n && !IsPathSeparator(path[share_end])) ++share_end;
    if (share_end == server_end + 1) return std::nullopt;  // no share name
    return share_end;
  }
  if (n >= 1 && IsPathSeparator(path[0])) return 1;
  const bool letter =
      n >= 1 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  if (drive_letters && letter && n >= 3 && path[1] == ':' && IsPathSeparator(path[2])) return 2;
  return std::nullopt;
}

}  // namespace mb::platform
