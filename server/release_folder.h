// Where a release lives on the server's disk:
//
//   ROOT/pause.txt                      the server state, served as is
//   ROOT/notice/ORG.txt, MIRROR.txt     the update notice per server folder
//   ROOT/notice.txt                     the notice for a folder without its own
//   ROOT/<ORG|MIRROR>/<component>/      release.ini, files.ini and the files
//   ROOT/<ORG|MIRROR>/outlook/<label>/  the add-in for one Outlook version
//
// component is "outlook", "express" or "agent".
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace mb::server {

enum class Component { kOutlook, kExpress, kAgent };

// The folder name of a component inside ORG or MIRROR.
std::string_view ComponentFolderName(Component c);

// A bare file name that cannot leave its folder: mb::IsSafeFileName (not
// empty, "." or "..", no "/", "\", ":" or NUL), and no control characters.
bool IsPlainFileName(std::string_view name);

class ReleaseFolder {
 public:
  explicit ReleaseFolder(std::filesystem::path root) : root_(std::move(root)) {}

  const std::filesystem::path& Root() const { return root_; }
  std::filesystem::path PauseFile() const { return root_ / "pause.txt"; }
  // The notice of a server folder ("ORG" or "MIRROR"), if there is
  // anything of its name (a link counts, and is then refused).
  std::optional<std::filesystem::path> NoticeFile(const std::string& folder) const;

 private:
  std::filesystem::path root_;
};

}  // namespace mb::server
