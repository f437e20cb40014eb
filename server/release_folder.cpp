#include "server/release_folder.h"

#include "rules/safe_names.h"

namespace mb::server {
namespace fs = std::filesystem;

std::string_view ComponentFolderName(Component c) {
  switch (c) {
    case Component::kOutlook:
      return "outlook";
    case Component::kExpress:
      return "express";
    case Component::kAgent:
      return "agent";
  }
  return "";
}

bool IsPlainFileName(std::string_view name) {
  if (!IsSafeFileName(std::string(name))) return false;  // the agent's and updater's rule
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

std::optional<fs::path> ReleaseFolder::NoticeFile(const std::string& folder) const {
  std::error_code ec;
  for (const fs::path& p : {root_ / "notice" / (folder + ".txt"), root_ / "notice.txt"}) {
    if (fs::exists(fs::symlink_status(p, ec))) return p;
  }
  return std::nullopt;
}

}  // namespace mb::server
