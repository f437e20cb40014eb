// A manifest names files that the agent writes into its update directory
// and that the updater writes into target directories. A name that could
// reach outside those folders is refused; the agent, the updater and the
// server all apply this one rule.
#pragma once

#include <string>

namespace mb {

// False exactly for an empty name, "." or "..", and a name holding "\", "/",
// ":" or NUL (which covers every absolute, drive or stream name). Dots inside
// a name ("a..b.dll") are harmless: only a whole ".." climbs out of a folder.
bool IsSafeFileName(const std::string& name);

// One spelling for two paths that one file system could take for one file:
// separators unified and runs of them collapsed, ASCII letters folded
// (Windows names ignore case). The agent and the updater refuse a list that
// names one file twice by this measure.
std::string FoldedPath(const std::string& path);

}  // namespace mb
