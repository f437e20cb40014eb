#include "updater/updater.h"

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <utility>
#include <vector>

#include "planning/ini_formats.h"
#include "support/local_time.h"
#include "support/text.h"
#include "updater/file_placement.h"
#include "updater/wait_for_agent.h"

namespace mb::updater {

Updater::Updater(const platform::Platform& p) : p_(p) {}

std::string Updater::UpdateDir() const { return p_.process->InstallDir() + "\\update"; }

std::string Updater::ListPath() const { return UpdateDir() + "\\" + ini::kPendingListFile; }

int Updater::Run() {
  if (text::TrimSpaces(p_.process->Arguments()) != ini::kMainWindowCaption) {
    std::fprintf(stderr, "%s is started by the Mailbeacon agent (argument \"%s\").\n",
                 ini::kUpdaterFile, ini::kMainWindowCaption);
    return kUsage;
  }
  const auto limit = AgentWaitLimit();
  if (WaitForAgentToEnd(ini::kMainWindowCaption, limit) == WaitResult::kTimedOut) {
    Log("Update not started : the agent did not end within " + std::to_string(limit.count()) +
        " ms");
    return kAgentStillRunning;
  }
  return ApplyPendingList();
}

int Updater::ApplyPendingList() {
  if (!p_.fs->Exists(ListPath())) return kApplied;
  PendingList list;
  try {
    list = ReadPendingList(*p_.profiles, *p_.codepage, ListPath());
    ResolveInstallRelative(list, p_.process->InstallDir());
    CheckPendingList(list, *p_.fs, UpdateDir());
    CheckSourcesPresent(list, *p_.fs, UpdateDir());
  } catch (const ListRefused& e) {
    Log(std::string("Update refused : ") + e.what());
    return kListRefused;
  }
  return ApplyAll(list);
}

// In order: every file, then the installed releases, then the list, and
// only then the copies. Until the list is gone a new start redoes it all
// from the copies; after that nothing needs redoing.
int Updater::ApplyAll(const PendingList& list) {
  std::string step;
  try {
    for (const PendingComponent& component : list.components) {
      for (const PendingFile& file : component.files) {
        step = file.Target();
        const bool backed_up = PlaceFile(*p_.fs, file, UpdateDir());
        Log("Installed : " + file.Target() +
            (backed_up ? " (previous copy kept as " + file.org_name + "_old)" : ""));
      }
    }
    step = ini::kInstallRecordFile;
    RecordInstalledVersions(list);
    step = ini::kPendingListFile;
    p_.fs->DeleteFile(ListPath());
  } catch (const std::exception& e) {
    Log("Update stopped at " + step + " : " + e.what());
    return kIoFailure;
  }
  return DeleteCopies(list) ? kApplied : kIoFailure;
}

// A component's files are all in place: the release the agent handed over
// (its LAST_VERSION) is now the installed one, so the agent's next run finds
// the component up to date. Each file's VERSION goes under its installed
// name too, the record the agent compares a renamed file with, so an
// unchanged file is not fetched again with the next release. A component
// with no pending files handed over no release and is left alone.
void Updater::RecordInstalledVersions(const PendingList& list) {
  const std::string record = UpdateDir() + "\\" + ini::kInstallRecordFile;
  std::vector<std::pair<std::string, std::string>> installed;  // section, release
  {
    platform::ProfileBatch batch(*p_.profiles);  // one write of the record, however many files
    for (const PendingComponent& component : list.components) {
      if (component.files.empty()) continue;
      for (const PendingFile& file : component.files) {
        if (!p_.profiles->WriteString(file.org_name_ansi, ini::kVersionKey, file.version_ansi,
                                      record)) {
          throw std::runtime_error("cannot write [" + file.org_name + "] " + ini::kVersionKey);
        }
      }
      const std::string last =
          ReadProfileValue(*p_.profiles, component.section, ini::kLastVersionKey, record);
      if (last.empty()) continue;
      if (!p_.profiles->WriteString(component.section, ini::kInstallVersionKey, last, record)) {
        throw std::runtime_error("cannot write [" + component.section + "] " +
                                 ini::kInstallVersionKey);
      }
      installed.emplace_back(component.section, last);
    }
  }
  // The batch's writes reach the disk as it ends, and a write that fails
  // there is lost without a word: read the releases back before the list
  // that could redo them goes.
  for (const auto& [section, last] : installed) {
    if (ReadProfileValue(*p_.profiles, section, ini::kInstallVersionKey, record) != last) {
      throw std::runtime_error("the install record did not keep [" + section + "] " +
                               ini::kInstallVersionKey);
    }
  }
}

// The update is complete by now; a copy that cannot be removed is reported
// but the others are still removed.
bool Updater::DeleteCopies(const PendingList& list) {
  bool all = true;
  for (const PendingComponent& component : list.components) {
    for (const PendingFile& file : component.files) {
      const std::string copy = UpdateDir() + "\\" + file.name;
      try {
        p_.fs->DeleteFile(copy);
      } catch (const std::exception& e) {
        Log("Could not remove " + copy + " : " + e.what());
        all = false;
      }
    }
  }
  return all;
}

void Updater::Log(const std::string& text) {
  // Appended piece by piece: g++ 12 at -O3 sees a false overlap (-Wrestrict)
  // in "literal" + std::string&&.
  std::string line = "[";
  line.append(FormatTimestamp(p_.process->Now())).append("] ").append(text).append("\r\n");
  try {
    p_.fs->Append(UpdateDir() + "\\" + ini::kUpdateLogFile, p_.codepage->ToAnsi(line));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s(update log: %s)\n", line.c_str(), e.what());
  }
}

}  // namespace mb::updater
