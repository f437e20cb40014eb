#include "updater/component_install.h"

#include <exception>
#include <utility>

#include "install/update_folder.h"
#include "planning/ini_formats.h"
#include "platform/temporary_names.h"
#include "rules/agent_files.h"
#include "updater/file_placement.h"

namespace mb::updater {
namespace {

const char* ReasonOf(platform::Access access) {
  if (access == platform::Access::kInUse) return kReasonInUse;
  if (access == platform::Access::kDenied) return kReasonDenied;
  return kReasonIo;
}

}  // namespace

std::string AccessWords(const platform::AccessCheck& check) {
  const std::string why = check.reason.empty() ? "" : " (" + check.reason + ")";
  if (check.access == platform::Access::kInUse) return "in use by another program" + why;
  if (check.access == platform::Access::kDenied) return "needs administrator rights" + why;
  return check.reason;
}

ComponentInstaller::ComponentInstaller(const platform::Platform& p, std::string update_dir,
                                       InstallPolicy policy, Logger log)
    : p_(p), update_dir_(std::move(update_dir)), policy_(std::move(policy)), log_(std::move(log)) {}

ComponentResult ComponentInstaller::Install(const PendingComponent& component,
                                            const std::string& last_version,
                                            std::vector<std::string>& leftovers) {
  try {
    return Transact(component, last_version, leftovers);
  } catch (const std::exception& e) {
    // The journal could not be written (a full disk): the one on disk says
    // what was begun, and the next start finishes or undoes it.
    return {false, kReasonJournal, JournalPath(update_dir_), e.what()};
  }
}

ComponentResult ComponentInstaller::Transact(const PendingComponent& component,
                                             const std::string& last_version,
                                             std::vector<std::string>& leftovers) {
  InstallJournal journal{
      JournalState::kStaging, component.section, last_version, {}, {}, leftovers};
  std::string step;
  try {
    journal.swaps = PlanSwaps(component);
    journal.record = RecordOf(component, last_version);
    step = JournalPath(update_dir_);
    Journal(journal);  // before the first file is made beside a target
    Stage(journal.swaps, step);
  } catch (const std::exception& e) {
    for (const FileSwap& s : journal.swaps) DiscardStaged(*p_.fs, s);
    ComponentResult failed = Failure(step, e.what());
    journal.state = JournalState::kIdle;
    journal.swaps.clear();
    try {
      Journal(journal);
    } catch (const std::exception&) {
      // The staged files are gone already; a stale journal only repeats that.
    }
    return failed;
  }
  if (ComponentResult blocked = WaitUntilReplaceable(journal.swaps); !blocked.reason.empty()) {
    for (const FileSwap& s : journal.swaps) DiscardStaged(*p_.fs, s);
    journal.state = JournalState::kIdle;
    journal.swaps.clear();
    Journal(journal);
    return blocked;
  }
  return Commit(journal, leftovers);
}

// Per file, in list order: its backup first (the current file copied to
// "<target>_old" when the list asks for one and the contents change; a
// repeated run whose target already is the new file keeps the good backup),
// then the file itself.
std::vector<FileSwap> ComponentInstaller::PlanSwaps(const PendingComponent& component) {
  std::vector<FileSwap> swaps;
  for (const PendingFile& f : component.files) {
    const std::string source = update_dir_ + "\\" + f.name;
    const std::string target = f.Target();
    const bool existed = p_.fs->Exists(target);
    if (f.back_up && existed && !SameContents(*p_.fs, source, target)) {
      const std::string backup = f.org_name + files::kBackupSuffix;
      swaps.push_back({f.target_dir, backup, target, platform::RandomTemporaryTag(),
                       p_.fs->Exists(f.target_dir + "\\" + backup)});
    }
    swaps.push_back({f.target_dir, f.org_name, source, platform::RandomTemporaryTag(), existed});
  }
  return swaps;
}

// A component's files are all in place: the release the agent handed over
// (its LAST_VERSION) is the installed one, so the agent's next run finds it
// up to date. Each file's VERSION goes under its installed name too, the
// record the agent compares a renamed file with, so an unchanged file is
// not fetched again with the next release.
std::vector<RecordWrite> ComponentInstaller::RecordOf(const PendingComponent& component,
                                                      const std::string& last_version) {
  std::vector<RecordWrite> writes;
  for (const PendingFile& f : component.files) {
    writes.push_back({f.org_name_ansi, ini::kVersionKey, f.version_ansi});
  }
  if (!last_version.empty()) {
    writes.push_back({component.section, ini::kInstallVersionKey, last_version});
  }
  return writes;
}

void ComponentInstaller::Stage(const std::vector<FileSwap>& swaps, std::string& step) {
  for (const FileSwap& s : swaps) {
    step = s.Target();
    CreateDirectories(*p_.fs, s.dir);
    RemoveStaleTemporaries(*p_.fs, s.dir, s.name);  // what a crash of an older updater left
    StageSwap(*p_.fs, s);
  }
}

// Every file that will be renamed aside must be free to rename; one that a
// program holds is waited for, a bounded time.
ComponentResult ComponentInstaller::WaitUntilReplaceable(const std::vector<FileSwap>& swaps) {
  std::chrono::milliseconds waited{0};
  bool told = false;
  for (std::size_t i = 0; i < swaps.size();) {
    const platform::AccessCheck check =
        swaps[i].existed ? p_.fs->CanReplace(swaps[i].Target()) : platform::AccessCheck{};
    if (check.Allowed() || check.access == platform::Access::kMissing) {
      ++i;
      continue;
    }
    if (check.access != platform::Access::kInUse || waited >= policy_.in_use_limit) {
      return {false, ReasonOf(check.access), swaps[i].Target(), AccessWords(check)};
    }
    if (!told) {
      log_("Waiting for " + swaps[i].Target() + " : " + AccessWords(check));
      told = true;
    }
    policy_.sleep(policy_.in_use_poll);
    waited += policy_.in_use_poll;
  }
  return {};
}

ComponentResult ComponentInstaller::Commit(InstallJournal& journal,
                                           std::vector<std::string>& leftovers) {
  journal.state = JournalState::kCommitting;
  Journal(journal);
  for (std::size_t i = 0; i < journal.swaps.size(); ++i) {
    try {
      CommitSwap(*p_.fs, journal.swaps[i]);
    } catch (const std::exception& e) {
      const std::string target = journal.swaps[i].Target();
      const platform::AccessCheck check = p_.fs->CanReplace(target);
      RollBack(journal, i);
      const bool held =
          check.access == platform::Access::kInUse || check.access == platform::Access::kDenied;
      return {false, held ? ReasonOf(check.access) : kReasonIo, target,
              held ? AccessWords(check) : e.what()};
    }
  }
  journal.state = JournalState::kCommitted;
  Journal(journal);
  LogInstalled(journal.swaps);
  const std::string record = update_dir_ + "\\" + ini::kInstallRecordFile;
  if (!WriteInstallRecord(*p_.profiles, record, journal.record)) {
    // The journal stays committed: the next start writes the record again.
    return {false, kReasonRecord, record, "the install record did not keep the release"};
  }
  for (const FileSwap& s : journal.swaps) {
    if (!s.existed || RemoveLeftover(*p_.fs, s.Aside())) continue;
    leftovers.push_back(s.Aside());
    log_("Still in use : " + s.Target() + " (its previous copy goes at a later start)");
  }
  journal.state = JournalState::kIdle;
  journal.swaps.clear();
  journal.record.clear();
  journal.leftovers = leftovers;
  Journal(journal);
  return {true, "", "", ""};
}

// Undoes swaps `failed` down to the first. One that cannot be undone now
// (a rename refused) leaves the journal rolling back, and the next start
// of the updater or the agent goes on with it.
void ComponentInstaller::RollBack(InstallJournal& journal, std::size_t failed) {
  journal.state = JournalState::kRollingBack;
  Journal(journal);
  bool whole = true;
  for (std::size_t k = failed + 1; k-- > 0;) {
    const FileSwap& s = journal.swaps[k];
    try {
      UndoSwap(*p_.fs, s);
      if (k < failed) log_("Put back as it was : " + s.Target());
    } catch (const std::exception& e) {
      whole = false;
      log_("Could not put back " + s.Target() + " : " + e.what() +
           " (tried again at the next start)");
    }
  }
  if (!whole) return;
  journal.state = JournalState::kIdle;
  journal.swaps.clear();
  Journal(journal);
}

// One line per file put in place; a backup swap (whose source is the next
// swap's target) is told with its file.
void ComponentInstaller::LogInstalled(const std::vector<FileSwap>& swaps) {
  for (std::size_t i = 0; i < swaps.size(); ++i) {
    if (i + 1 < swaps.size() && swaps[i + 1].Target() == swaps[i].source) continue;
    const bool backed_up = i > 0 && swaps[i - 1].source == swaps[i].Target();
    log_("Installed : " + swaps[i].Target() +
         (backed_up ? " (previous copy kept as " + swaps[i - 1].name + ")" : ""));
  }
}

void ComponentInstaller::Journal(const InstallJournal& journal) {
  WriteJournal(*p_.fs, update_dir_, journal);
}

// Why staging `file` failed: a folder this user may not write (or make),
// or the file itself held (its backup is read from it), else the system's
// words.
ComponentResult ComponentInstaller::Failure(const std::string& file, const std::string& detail) {
  const std::size_t sep = file.find_last_of("\\/");
  const std::string dir = sep == std::string::npos ? file : file.substr(0, sep);
  platform::AccessCheck check = p_.fs->CanWriteIn(ExistingAncestor(*p_.fs, dir));
  if (check.Allowed()) check = p_.fs->CanReplace(file);
  const bool held =
      check.access == platform::Access::kInUse || check.access == platform::Access::kDenied;
  return {false, held ? ReasonOf(check.access) : kReasonIo, file,
          held ? AccessWords(check) : detail};
}

}  // namespace mb::updater
