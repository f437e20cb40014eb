// What the update folder keeps from one run to the next. The agent fills it
// with copies of release files, and a transfer cut off by a crash leaves
// temporary files there and beside the files it installs; a server that
// publishes a new name with a wrong digest at every run, or passes that
// never reach a hand-off, would fill the disk. So every run ends by
// clearing what no one needs any more, by one rule (KeptInUpdateFolder).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/filesystem.h"

namespace mb {

// A temporary file not written to for this long belongs to no transfer
// that is still running: a running one writes at least once a minute (or
// fails on the rate floor), so ten minutes leave a wide margin.
inline constexpr std::int64_t kStaleTemporarySeconds = 600;

// The one rule of what the update folder keeps:
// - anything that is no file (a folder, a link);
// - the agent's own files (rules/agent_files.h: the install record, the
//   pending-install list, the update log, the manifests, the pause state,
//   the notice) and backups ("<name>_old");
// - the copies that the run's pending-install list names (`listed`), which
//   the updater is about to install;
// - a temporary file (its name begins with a dot: a download's body, a copy
//   or an INI file being written) that was written to in the last ten
//   minutes, as another agent or the updater may be writing it now.
// Every other file is a leftover: a copy whose digest was rejected, one of
// a pass that failed or of a list that was dropped, a temporary a crash
// left. No file of a release may begin with a dot, so no copy is taken for
// a temporary.
bool KeptInUpdateFolder(const platform::FolderEntry& entry,
                        const std::function<bool(const std::string& name)>& listed);

// Removes from `update_dir` every file that KeptInUpdateFolder does not
// keep. A file that cannot be removed (in use, say) stays for a later run;
// a folder that cannot be read is left alone. Returns how many went.
int ClearUpdateFolder(platform::FileSystem& fs, const std::string& update_dir,
                      const std::function<bool(const std::string& name)>& listed);

// The update folder takes no links: a link there (a symbolic link, or on
// Windows a junction, which needs no privilege) would have a download
// truncate what it leads to, the log appended to it, or the scratch area's
// clearing empty the folder it leads to. Removes every link in `update_dir`
// and in its scratch area (the scratch area itself when it is one), as
// links, never following one. Returns the names removed, for the log.
std::vector<std::string> RemoveLinks(platform::FileSystem& fs, const std::string& update_dir);

// Removes the stale temporaries (platform/temporary_names.h) that a crash
// left beside `dir`\`name` while that file or its backup was being made.
// Only those: the folder may be anyone's. Failures are ignored.
void RemoveStaleTemporaries(platform::FileSystem& fs, const std::string& dir,
                            const std::string& name);

}  // namespace mb
