// Putting one listed file in place. Every step can be repeated: a run that
// was cut off half-way is finished by applying the same list again.
#pragma once

#include <string>

#include "platform/filesystem.h"
#include "updater/pending_list.h"

namespace mb::updater {

// True when both files hold the same bytes. Raises when either cannot be read.
bool SameContents(platform::FileSystem& fs, const std::string& a, const std::string& b);

// Creates `dir` and every missing folder above it below its root (never a
// drive, a share or the top of the tree). Raises for a folder that is not
// absolute on this system.
void CreateDirectories(platform::FileSystem& fs, const std::string& dir);

// Copies `update_dir`\NAME to TARGET_DIR\ORG_NAME through a temporary name
// beside the target, so the target is always either the old or the new
// file. With BACK_UP the old file is first copied to "<target>_old", unless
// the target already is the new file (a repeated run must not overwrite a
// good backup with the new bytes). Stale temporaries that a crash left
// beside the target go first. Returns whether a backup was made.
// Raises mb::Error on a failure.
bool PlaceFile(platform::FileSystem& fs, const PendingFile& file, const std::string& update_dir);

}  // namespace mb::updater
