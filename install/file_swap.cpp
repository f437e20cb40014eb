#include "install/file_swap.h"

#include <exception>

#include "platform/temporary_names.h"

namespace mb {
namespace {

std::string Beside(const FileSwap& swap, platform::TemporaryKind kind) {
  return swap.dir + "\\" + platform::TemporaryName(swap.name, kind, swap.tag);
}

}  // namespace

std::string FileSwap::Target() const { return dir + "\\" + name; }
std::string FileSwap::Staged() const { return Beside(*this, platform::TemporaryKind::kStage); }
std::string FileSwap::Aside() const { return Beside(*this, platform::TemporaryKind::kAside); }

void StageSwap(platform::FileSystem& fs, const FileSwap& swap) {
  fs.CopyFile(swap.source, swap.Staged());
}

void CommitSwap(platform::FileSystem& fs, const FileSwap& swap) {
  if (fs.Exists(swap.Target()) && !fs.Exists(swap.Aside())) fs.Rename(swap.Target(), swap.Aside());
  fs.Rename(swap.Staged(), swap.Target());
  // Any file can be started on Windows; a program put in place (the agent
  // itself, for one) must stay runnable on POSIX too.
  fs.MakeExecutable(swap.Target());
}

bool SwapCommitted(platform::FileSystem& fs, const FileSwap& swap) {
  return !fs.Exists(swap.Staged()) && fs.Exists(swap.Target()) &&
         (!swap.existed || fs.Exists(swap.Aside()));
}

void UndoSwap(platform::FileSystem& fs, const FileSwap& swap) {
  const bool old_aside = fs.Exists(swap.Aside());
  const bool new_in_place =
      !fs.Exists(swap.Staged()) && fs.Exists(swap.Target()) && (old_aside || !swap.existed);
  if (new_in_place && !RemoveLeftover(fs, swap.Target())) {
    // Loaded meanwhile: it may still be renamed, out of the old file's way.
    fs.Rename(swap.Target(), swap.dir + "\\" +
                                 platform::TemporaryName(swap.name, platform::TemporaryKind::kAside,
                                                         platform::RandomTemporaryTag()));
  }
  if (old_aside) fs.Rename(swap.Aside(), swap.Target());
  DiscardStaged(fs, swap);
}

void DiscardStaged(platform::FileSystem& fs, const FileSwap& swap) {
  RemoveLeftover(fs, swap.Staged());
  // A copy to the staged name that a crash cut off: ".<staged name>.XXXXXX".
  const std::string staged_name = swap.Staged().substr(swap.dir.size() + 1);
  try {
    for (const platform::FolderEntry& e : fs.ListFolder(swap.dir)) {
      if (e.is_file &&
          platform::IsTemporaryNameOf(e.name, staged_name, {platform::TemporaryKind::kCopy})) {
        RemoveLeftover(fs, swap.dir + "\\" + e.name);
      }
    }
  } catch (const std::exception&) {
    // A folder that cannot be read now is looked at again at a later start.
  }
}

std::string ExistingAncestor(platform::FileSystem& fs, std::string dir) {
  while (!dir.empty() && !fs.Exists(dir)) {
    const std::size_t sep = dir.find_last_of("\\/");
    if (sep == std::string::npos) break;
    dir.resize(sep);
  }
  return dir;
}

bool RemoveLeftover(platform::FileSystem& fs, const std::string& path) {
  if (!fs.Exists(path)) return true;
  try {
    fs.DeleteFile(path);
    return true;
  } catch (const std::exception&) {
    return !fs.Exists(path);
  }
}

}  // namespace mb
