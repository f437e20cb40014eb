// The updater's journal, update\install_journal.txt: what it is doing to the
// files of one component, written whole (platform::FileSystem::WriteWhole)
// before each step that could leave the add-in half updated, so that the
// next start after a crash - the updater's, or the agent's before its run
// touches anything - makes the component whole again:
//   staging       new files are being staged beside their targets; nothing
//                 the user sees changed: the staged files are removed
//   committing    files are being swapped in: every swap is undone, so the
//                 component is as it was (the list and the verified copies
//                 let a later hand-off do it again, without a download)
//   rolling-back  the same, going on
//   committed     every file is in place: the install record gets the
//                 release (again), the old files go
// An old file renamed aside that a program still holds (a loaded DLL) is
// kept as a leftover and removed at a later start.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "install/file_swap.h"
#include "platform/filesystem.h"
#include "platform/profile.h"

namespace mb {

enum class JournalState { kIdle, kStaging, kCommitting, kRollingBack, kCommitted };

// One value for the install record: ANSI bytes, as the record holds them.
struct RecordWrite {
  std::string section, key, value;
  bool operator==(const RecordWrite&) const = default;
};

struct InstallJournal {
  JournalState state = JournalState::kIdle;
  std::string component;               // its section in the pending-install list
  std::string release;                 // the release being installed, for the log
  std::vector<FileSwap> swaps;         // in the order they are committed
  std::vector<RecordWrite> record;     // written once every file is in place
  std::vector<std::string> leftovers;  // files renamed aside, still held
};

// The text of a journal, and back; nothing for text that is not a whole
// journal.
std::string FormatJournal(const InstallJournal& journal);
std::optional<InstallJournal> ParseJournal(std::string_view text);

std::string JournalPath(const std::string& update_dir);
// Writes the journal; one with nothing in it (idle, no leftovers) is
// removed instead. Raises mb::Error.
void WriteJournal(platform::FileSystem& fs, const std::string& update_dir,
                  const InstallJournal& journal);

// The leftovers the journal keeps; none when there is no journal (or none
// that can be read).
std::vector<std::string> JournalLeftovers(platform::FileSystem& fs, const std::string& update_dir);

// Writes the values to the install record in one batch and reads them back;
// false when the record did not keep them.
bool WriteInstallRecord(platform::ProfileStore& profiles, const std::string& record_path,
                        const std::vector<RecordWrite>& writes);

// Makes whole what an updater cut off left (see above) and removes the
// leftovers that are free now. Returns the lines for the update log: what
// was put back or completed, and what is still held.
std::vector<std::string> RecoverInstall(platform::FileSystem& fs, platform::ProfileStore& profiles,
                                        const std::string& update_dir);

}  // namespace mb
