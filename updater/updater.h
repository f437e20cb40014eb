// SwiftPatcher_Mailbeacon.exe: started by the agent with "Mailbeacon_Shell"
// from the install directory, it waits for the agent to end, puts the files
// of the pending-install list in place, records each applied component's
// release as installed, and removes the list and the applied copies. On a
// failure it stops and leaves the list, so a later start can finish it.
#pragma once

#include <string>

#include "platform/platform.h"
#include "updater/pending_list.h"

namespace mb::updater {

// The process's exit status.
enum ExitCode : int {
  kApplied = 0,            // or nothing to do: no list
  kUsage = 1,              // not started the way the agent starts it
  kListRefused = 2,        // nothing was applied
  kIoFailure = 3,          // stopped; the list is left for a later try
  kAgentStillRunning = 4,  // the agent did not end in time
};

class Updater {
 public:
  // Uses the platform's profiles, fs, codepage and process.
  explicit Updater(const platform::Platform& p);

  // The whole job, from the argument check to the clean-up.
  int Run();
  // Applies the pending-install list of the install directory, if any.
  int ApplyPendingList();
  // One line in the update log; a log that cannot be written does not stop
  // an update (the line goes to stderr instead).
  void Log(const std::string& text);

 private:
  std::string UpdateDir() const;
  std::string ListPath() const;
  int ApplyAll(const PendingList& list);
  void RecordInstalledVersions(const PendingList& list);
  bool DeleteCopies(const PendingList& list);

  platform::Platform p_;
};

}  // namespace mb::updater
