// Helpers of putting listed files in place: comparing contents, making the
// target folders.
#pragma once

#include <string>

#include "platform/filesystem.h"

namespace mb::updater {

// True when both files hold the same bytes. Raises when either cannot be read.
bool SameContents(platform::FileSystem& fs, const std::string& a, const std::string& b);

// Creates `dir` and every missing folder above it below its root (never a
// drive, a share or the top of the tree). Raises for a folder that is not
// absolute on this system.
void CreateDirectories(platform::FileSystem& fs, const std::string& dir);

}  // namespace mb::updater
