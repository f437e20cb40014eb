#include "updater/updater.h"

#include <cstdio>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

#include "install/install_journal.h"
#include "install/install_outcome.h"
#include "install/update_folder.h"
#include "planning/ini_formats.h"
#include "support/local_time.h"
#include "support/text.h"
#include "updater/wait_for_agent.h"

namespace mb::updater {
namespace {

std::string Release(const std::string& section, const std::string& release) {
  return "[" + section + "] " + release;
}

std::string WhenAgain(const ComponentResult& result) {
  if (result.reason == kReasonInUse) return "it will be tried again once the file is free";
  if (result.reason == kReasonDenied) {
    return "it will be tried again when the agent next starts with the rights it needs";
  }
  return "it will be tried again when the agent next starts";
}

}  // namespace

Updater::Updater(const platform::Platform& p, UpdaterOptions options)
    : p_(p), options_(std::move(options)) {}

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
  std::unique_ptr<platform::InstanceLock> lock = WaitForLock();
  if (!lock) {
    Log("Update not started : another Mailbeacon program is working in " +
        p_.process->InstallDir());
    return kAgentStillRunning;
  }
  if (p_.fs->IsLink(UpdateDir())) {
    Log("Update not started : the update folder is a link: " + UpdateDir());
    return kIoFailure;
  }
  for (const std::string& name : RemoveLinks(*p_.fs, UpdateDir())) {
    Log("Removed a link from the update folder : " + name);
  }
  for (const std::string& line : RecoverInstall(*p_.fs, *p_.profiles, UpdateDir())) Log(line);
  const int status = ApplyPendingList();
  lock.reset();  // the agent started next takes it
  if (status == kPutBack && !options_.agent_program.empty()) {
    p_.process->ShellOpen(options_.agent_program, "", p_.process->InstallDir());
  }
  return status;
}

// Another agent may have taken the lock in the moment between the agent's
// end and our start: it ends once it hands over or finds nothing to do.
std::unique_ptr<platform::InstanceLock> Updater::WaitForLock() {
  const auto deadline = std::chrono::steady_clock::now() + AgentWaitLimit();
  while (true) {
    if (auto lock = p_.process->TryLockInstance(p_.process->InstallDir())) return lock;
    if (std::chrono::steady_clock::now() >= deadline) return nullptr;
    std::this_thread::sleep_for(kAgentPollInterval);
  }
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

// Component by component, each all or nothing. Only when every one is
// installed do the list and then the copies go: until then a new hand-off
// redoes what is left from the same copies.
int Updater::ApplyAll(const PendingList& list) {
  const std::string record = UpdateDir() + "\\" + ini::kInstallRecordFile;
  std::vector<std::string> leftovers = JournalLeftovers(*p_.fs, UpdateDir());
  ComponentInstaller installer(p_, UpdateDir(), options_.install,
                               [this](const std::string& line) { Log(line); });
  std::vector<ComponentOutcome> outcomes;
  int status = kApplied;
  for (const PendingComponent& component : list.components) {
    if (component.files.empty()) continue;  // handed over no release
    const std::string release =
        ReadProfileValue(*p_.profiles, component.section, ini::kLastVersionKey, record);
    const std::string before =
        ReadProfileValue(*p_.profiles, component.section, ini::kInstallVersionKey, record);
    const ComponentResult result = installer.Install(component, release, leftovers);
    Report(component, release, result);
    outcomes.push_back({component.section, before, release,
                        result.installed ? kOutcomeInstalled : kOutcomeFailed, result.reason,
                        result.file, Now()});
    if (result.installed) continue;
    status = std::max(status, result.reason == kReasonInUse ? int{kPutBack} : int{kIoFailure});
  }
  if (!WriteOutcomes(*p_.profiles, *p_.fs, *p_.codepage, UpdateDir(), outcomes)) {
    Log("Could not write " + OutcomePath(UpdateDir()));
  }
  if (status != kApplied) return status;
  try {
    p_.fs->DeleteFile(ListPath());
  } catch (const std::exception& e) {
    Log("Update stopped at " + std::string(ini::kPendingListFile) + " : " + e.what());
    return kIoFailure;
  }
  return DeleteCopies(list) ? kApplied : kIoFailure;
}

void Updater::Report(const PendingComponent& component, const std::string& release,
                     const ComponentResult& result) {
  if (result.installed) return;
  Log("Update stopped at " + result.file + " : " + result.detail);
  Log(Release(component.section, release) +
      " not installed, its files are as they were : " + WhenAgain(result));
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

std::string Updater::Now() { return FormatTimestamp(p_.process->Now()); }

void Updater::Log(const std::string& text) {
  // Appended piece by piece: g++ 12 at -O3 sees a false overlap (-Wrestrict)
  // in "literal" + std::string&&.
  std::string line = "[";
  line.append(Now()).append("] ").append(text).append("\r\n");
  try {
    p_.fs->Append(UpdateDir() + "\\" + ini::kUpdateLogFile, p_.codepage->ToAnsi(line));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s(update log: %s)\n", line.c_str(), e.what());
  }
}

}  // namespace mb::updater
