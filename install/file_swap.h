// One file put in place by the updater, in steps that can each be undone:
// the new file is first staged beside its target (nothing the user sees
// changes), then two renames swap it in: the current file goes aside, the
// staged one takes its name. Renaming is the one change Windows allows on a
// DLL a program has loaded, so a loaded add-in is replaced like any other
// file, and the old copy stays aside until no program holds it. Undo puts
// the old file back the same way. Every step looks at the disk, not at what
// an earlier step said, so each can be repeated after a crash.
#pragma once

#include <string>

#include "platform/filesystem.h"

namespace mb {

struct FileSwap {
  std::string dir;       // the target's folder
  std::string name;      // the target's name in it
  std::string source;    // what is put there: a verified copy, or for a
                         // backup the current target itself
  std::string tag;       // of the staged and aside names (six letters or digits)
  bool existed = false;  // a file stood at the target when the swap was planned

  std::string Target() const;
  std::string Staged() const;  // ".<name>.stage-<tag>" beside the target
  std::string Aside() const;   // ".<name>.aside-<tag>" beside the target
};

// Copies the source to the staged name. Raises mb::Error.
void StageSwap(platform::FileSystem& fs, const FileSwap& swap);
// Renames the target aside (when there is one) and the staged file in.
// Raises mb::Error; what it did is then undone by UndoSwap.
void CommitSwap(platform::FileSystem& fs, const FileSwap& swap);
// Whatever of StageSwap and CommitSwap was done is undone: the old file is
// back under its name, nothing staged is left. A new file that cannot be
// removed (a program loaded it meanwhile) is renamed aside instead and
// left for a later start (RemoveLeftover). Raises mb::Error when the old
// file cannot be put back.
void UndoSwap(platform::FileSystem& fs, const FileSwap& swap);
// Removes the staged file and what a copy to it left (nothing changes for
// the user). Failures are ignored: a later start removes them.
void DiscardStaged(platform::FileSystem& fs, const FileSwap& swap);
// Whether the swap is in place: the staged file moved in.
bool SwapCommitted(platform::FileSystem& fs, const FileSwap& swap);

// The nearest folder above `dir` (or `dir` itself) that is there: where a
// folder that cannot be made would have been made.
std::string ExistingAncestor(platform::FileSystem& fs, std::string dir);

// Removes a file renamed aside (read-only or not); false while a program
// still holds it (a loaded DLL), or when it cannot be removed for another
// reason. A file that is no longer there counts as removed.
bool RemoveLeftover(platform::FileSystem& fs, const std::string& path);

}  // namespace mb
