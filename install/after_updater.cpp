// What the agent does about the updater: at the start of every run it takes
// over what an updater left (an install a crash cut off is made whole, the
// outcome of the last hand-off is read, the copies it did not install are
// set aside for the next pass, so nothing handed over is fetched again);
// and before a pass fetches anything it makes sure the updater could put
// the files in place: folders this user may write, files no program holds.
#include <exception>
#include <set>

#include "agent/frm_tray.h"
#include "install/install_journal.h"
#include "install/kept_downloads.h"
#include "install/pending_list.h"
#include "planning/ini_formats.h"

namespace mb {
namespace {}  // namespace

// Never raises: a run must start whatever the updater left.
void frmTray::TakeOverFromUpdater() {
  try {
    for (const std::string& line : RecoverInstall(*p_.fs, *p_.profiles, state_.UpdateDir)) {
      LogOnce(line);
    }
    for (ComponentOutcome& o : TakeOutcomes(*p_.profiles, *p_.fs, *p_.codepage, state_.UpdateDir)) {
      QueueOutcomeReport(o);
      outcomes_[o.section] = std::move(o);
    }
    SetAsideHandedOver();
  } catch (const std::exception&) {
    // What could not be taken over now is looked at again at the next run.
  }
}

// The copies a pending-install list names are still in the update folder
// when the updater did not install them (a file in use, a crash, an agent
// started before it): they go to the scratch area as a failed pass's
// verified copies do, with the digest they were checked against, and the
// next pass takes them back (checking them again) instead of fetching them.
void frmTray::SetAsideHandedOver() {
  if (!p_.fs->IsOrdinaryFile(state_.DownloadIniPath)) return;
  PendingList list;
  try {
    list = ReadPendingList(*p_.profiles, *p_.codepage, state_.DownloadIniPath);
  } catch (const ListRefused&) {
    return;  // not a list this agent wrote: its copies are leftovers
  }
  for (const PendingComponent& component : list.components) {
    const std::optional<std::int16_t> kind = ini::KindOfSection(component.section);
    for (const PendingFile& f : component.files) {
      const std::string copy = state_.UpdateDir + "\\" + f.name;
      if (!kind || !p_.fs->IsOrdinaryFile(copy)) continue;
      FileRecord r;
      r.Name = f.name;
      const auto known = handed_digests_.find(f.name);
      try {
        r.Hash = known != handed_digests_.end() ? known->second : MD5File(copy);
      } catch (const std::exception&) {
        continue;
      }
      SetAside(*p_.fs, state_.UpdateDir, *kind, r);
    }
  }
}

// Every folder a file of the plan goes to must take new files, and every
// file it replaces must be one this user may replace; otherwise nothing of
// the pass is fetched, and the log says once which folder needs which
// rights. A file that a program holds is no reason here: the updater waits
// for it.
bool frmTray::TargetsWritable(const DownloadList& list) {
  std::set<std::string> folders;
  for (const FileRecord& r : list) {
    if (folders.insert(r.TargetDir).second) {
      const platform::AccessCheck folder = p_.fs->CanWriteIn(r.TargetDir);
      if (folder.access == platform::Access::kDenied) {
        LogOnce("Update not possible : " + r.TargetDir + " : needs administrator rights (" +
                folder.reason + ")");
        return false;
      }
    }
    const std::string target = r.TargetDir + "\\" + r.OrgName;
    const platform::AccessCheck file = p_.fs->CanReplace(target);
    if (file.access == platform::Access::kDenied) {
      LogOnce("Update not possible : " + target + " : needs administrator rights (" + file.reason +
              ")");
      return false;
    }
  }
  return true;
}

// The updater put this very release back because a file of it was in use:
// handing it over again is in vain while one of its targets is still held
// (the updater would wait a minute and put it back again), so the pass
// waits, without fetching anything, until they are all free.
bool frmTray::WaitsForFileInUse(std::int16_t kind, const DownloadList& list) {
  const auto it = outcomes_.find(ini::NamesFor(kind)->ComponentSection);
  if (it == outcomes_.end() || it->second.reason != "in-use" || list.empty()) return false;
  if (p_.codepage->FromAnsi(it->second.release) != list.front().LastVersion) return false;
  for (const FileRecord& r : list) {
    const std::string target = r.TargetDir + "\\" + r.OrgName;
    if (p_.fs->CanReplace(target).access == platform::Access::kInUse) {
      LogOnce("Waiting for " + target + " : in use by another program");
      return true;
    }
  }
  return false;
}

// Why a target folder could not be made, for the log: the rights it needs
// where that is the cause, else the system's words.
std::string frmTray::FolderProblem(const std::string& dir, const std::string& error) {
  const platform::AccessCheck parent = p_.fs->CanWriteIn(ExistingAncestor(*p_.fs, dir));
  target_dir_denied_ = parent.access == platform::Access::kDenied;
  if (target_dir_denied_) {
    return dir + " : needs administrator rights (" + parent.reason + ")";
  }
  return dir + " : " + error;
}

// The release the component's manifest (still in the update folder) names.
std::string frmTray::LastVersionOf(std::int16_t kind) {
  return GetVal(ini::kDownloadSection, ini::kLastVersionKey,
                state_.UpdateDir + "\\" + ini::NamesFor(kind)->ManifestFile);
}

// A line that would repeat at every run (every 500 ms) is written once in
// the agent's life.
void frmTray::LogOnce(const std::string& line) {
  for (const std::string& logged : logged_once_) {
    if (logged == line) return;
  }
  logged_once_.push_back(line);
  try {
    WriteUpdateLog(line);
  } catch (const std::exception&) {
    // Nothing depends on the line.
  }
}

}  // namespace mb
