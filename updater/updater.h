// SwiftPatcher_Mailbeacon.exe: started by the agent with "Mailbeacon_Shell"
// from the install directory, it waits for the agent to end, takes the
// install's lock, makes whole what a crash of an earlier run left, then
// installs each component of the pending-install list all or nothing
// (updater/component_install.h), records each installed component's
// release, tells the agent what became of each (install/install_outcome.h)
// and removes the list and the copies. A component it could not install is
// as it was before; the list and the copies stay for a later hand-off.
#pragma once

#include <memory>
#include <string>

#include "install/pending_list.h"
#include "platform/platform.h"
#include "updater/component_install.h"

namespace mb::updater {

// The process's exit status.
enum ExitCode : int {
  kApplied = 0,            // or nothing to do: no list
  kUsage = 1,              // not started the way the agent starts it
  kListRefused = 2,        // nothing was applied
  kIoFailure = 3,          // a component was not installed; the list is left for a later try
  kAgentStillRunning = 4,  // the agent did not end in time, or another program holds the lock
  kPutBack = 5,            // a file stayed in use: its component is as it was, and the
                           // agent is started again to hand it over once the file is free
};

struct UpdaterOptions {
  // The agent's program, started again after a component was put back for
  // a file in use ("Mailbeacon.exe"; empty: never).
  std::string agent_program;
  InstallPolicy install;
};

class Updater {
 public:
  // Uses the platform's profiles, fs, codepage and process.
  Updater(const platform::Platform& p, UpdaterOptions options);

  // The whole job, from the argument check to the clean-up.
  int Run();
  // Applies the pending-install list of the install directory, if any (the
  // lock already held).
  int ApplyPendingList();
  // One line in the update log; a log that cannot be written does not stop
  // an update (the line goes to stderr instead).
  void Log(const std::string& text);

 private:
  std::string UpdateDir() const;
  std::string ListPath() const;
  std::unique_ptr<platform::InstanceLock> WaitForLock();
  int ApplyAll(const PendingList& list);
  void Report(const PendingComponent& component, const std::string& release,
              const ComponentResult& result);
  bool DeleteCopies(const PendingList& list);
  std::string Now();

  platform::Platform p_;
  UpdaterOptions options_;
};

}  // namespace mb::updater
