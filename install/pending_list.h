// The pending-install list the agent leaves in its update directory: per
// component a TOTAL_FILES count and numbered sections naming each file. The
// whole list is read and checked before any file is touched, so a list that
// is refused changes nothing.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/filesystem.h"
#include "platform/profile.h"

namespace mb {

// One file to put in place. Names and paths are UTF-8 (converted from the
// list's ANSI text), in the agent's "\" path form.
struct PendingFile {
  std::string section;     // where the list names it, for messages
  std::string name;        // the verified copy in the update directory
  std::string org_name;    // the name it is installed under
  std::string target_dir;  // absolute once ResolveInstallRelative ran
  bool back_up = false;    // keep the replaced file as "<target>_old"
  // As the list holds them (ANSI): the install record is keyed by them.
  std::string version_ansi;
  std::string org_name_ansi;

  std::string Target() const;
};

struct PendingComponent {
  std::string section;  // "OUTLOOK_DOWNLOAD", ...
  std::vector<PendingFile> files;
};

struct PendingList {
  std::vector<PendingComponent> components;  // only those the list names
  std::size_t FileCount() const;
};

// A list the updater will not apply; what() says why.
class ListRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A value of an INI file as ANSI bytes; empty when missing.
std::string ReadProfileValue(platform::ProfileStore& profiles, const std::string& section,
                             const std::string& key, const std::string& file);

// Reads every component section of the list at `list_path`. Raises
// ListRefused for a count that is not a small non-negative number.
PendingList ReadPendingList(platform::ProfileStore& profiles, const platform::CodePage& codepage,
                            const std::string& list_path);

// Makes a TARGET_DIR of "." or ".\dir" absolute: the install directory, or
// the folder below it. The agent lists folders inside the install directory
// this way when the code page cannot hold the install directory's path, so
// that no "?" of a lossy conversion ever becomes part of a path.
void ResolveInstallRelative(PendingList& list, const std::string& install_dir);

// Raises ListRefused unless every entry may be listed (ListedFileProblem:
// release file names, none of the agent's own, no target in `update_dir`),
// has a TARGET_DIR that is absolute on this system (`fs`'s RootLength), and
// no two entries meet (ListedFiles: one copy, one target, or a target on
// another's backup). The agent checks its plan by the same rules before it
// fetches anything, so it never hands over a list refused here.
void CheckPendingList(const PendingList& list, platform::FileSystem& fs,
                      const std::string& update_dir);

// Raises ListRefused unless every listed copy lies in `update_dir`.
void CheckSourcesPresent(const PendingList& list, platform::FileSystem& fs,
                         const std::string& update_dir);

}  // namespace mb
