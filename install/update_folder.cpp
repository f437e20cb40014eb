#include "install/update_folder.h"

#include <exception>
#include <vector>

#include "install/scratch_area.h"
#include "planning/transfer_limits.h"
#include "platform/temporary_names.h"
#include "rules/agent_files.h"

namespace mb {
namespace {

bool IsTemporary(const std::string& name) { return !name.empty() && name.front() == '.'; }

std::vector<platform::FolderEntry> EntriesOf(platform::FileSystem& fs, const std::string& dir) {
  try {
    return fs.ListFolder(dir);
  } catch (const std::exception&) {
    return {};
  }
}

bool Remove(platform::FileSystem& fs, const std::string& path) {
  try {
    fs.DeleteFile(path);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

bool KeptInUpdateFolder(const platform::FolderEntry& entry,
                        const std::function<bool(const std::string& name)>& listed) {
  if (!entry.is_file) return true;
  if (files::IsAgentFileName(entry.name) || files::IsBackupName(entry.name)) return true;
  if (IsTemporary(entry.name)) return entry.age_seconds < kStaleTemporarySeconds;
  return listed(entry.name);
}

int ClearUpdateFolder(platform::FileSystem& fs, const std::string& update_dir,
                      const std::function<bool(const std::string& name)>& listed) {
  int removed = 0;
  for (const platform::FolderEntry& entry : EntriesOf(fs, update_dir)) {
    if (!KeptInUpdateFolder(entry, listed) && Remove(fs, update_dir + "\\" + entry.name)) {
      ++removed;
    }
  }
  // The scratch area, a folder, has rules of its own: partial and kept
  // files within one release file's cap, for a day at most.
  ClearScratchArea(fs, update_dir, kFileTransferCap);
  return removed;
}

std::vector<std::string> RemoveLinks(platform::FileSystem& fs, const std::string& update_dir) {
  std::vector<std::string> removed;
  const auto remove = [&](const std::string& dir, const std::string& name,
                          const std::string& shown) {
    try {
      fs.RemoveLink(dir + "\\" + name);
      removed.push_back(shown);
    } catch (const std::exception&) {
      // Not there any more, or not a link after all: looked at again next run.
    }
  };
  bool scratch_listed = false;
  for (const platform::FolderEntry& entry : EntriesOf(fs, update_dir)) {
    if (entry.is_link) remove(update_dir, entry.name, entry.name);
    scratch_listed = scratch_listed || (entry.name == kScratchFolder && !entry.is_link);
  }
  if (!scratch_listed) return removed;
  const std::string scratch = ScratchDir(update_dir);
  for (const platform::FolderEntry& entry : EntriesOf(fs, scratch)) {
    if (entry.is_link) remove(scratch, entry.name, std::string(kScratchFolder) + "\\" + entry.name);
  }
  return removed;
}

void RemoveStaleTemporaries(platform::FileSystem& fs, const std::string& dir,
                            const std::string& name) {
  const std::string backup = name + files::kBackupSuffix;
  for (const platform::FolderEntry& entry : EntriesOf(fs, dir)) {
    const bool ours = platform::IsTemporaryNameOf(entry.name, name) ||
                      platform::IsTemporaryNameOf(entry.name, backup);
    if (entry.is_file && ours && entry.age_seconds >= kStaleTemporarySeconds) {
      Remove(fs, dir + "\\" + entry.name);
    }
  }
}

}  // namespace mb
