// All or nothing, per component: every file of the component is staged
// beside its target and every target checked before anything changes; only
// then are the files swapped in (install/file_swap.h), and a failure on the
// way puts back every file already swapped. The journal
// (install/install_journal.h) lets the next start do the same after a
// crash. A file that another program holds is waited for, a bounded time.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "install/file_swap.h"
#include "install/install_journal.h"
#include "install/pending_list.h"
#include "platform/platform.h"

namespace mb::updater {

// Why a component was not installed: fixed words, for the outcome the agent
// reads and the log.
inline constexpr const char* kReasonInUse = "in-use";
inline constexpr const char* kReasonDenied = "denied";
inline constexpr const char* kReasonIo = "io";
inline constexpr const char* kReasonRecord = "record";
inline constexpr const char* kReasonJournal = "journal";

struct ComponentResult {
  bool installed = false;
  std::string reason;  // one of the words above, when not installed
  std::string file;    // the file it stopped at
  std::string detail;  // the system's words
};

struct InstallPolicy {
  // How long a file in use is waited for, and how often it is looked at.
  std::chrono::milliseconds in_use_limit{60'000};
  std::chrono::milliseconds in_use_poll{500};
  std::function<void(std::chrono::milliseconds)> sleep;
};

class ComponentInstaller {
 public:
  using Logger = std::function<void(const std::string& line)>;
  ComponentInstaller(const platform::Platform& p, std::string update_dir, InstallPolicy policy,
                     Logger log);

  // Installs one component of the list as its release `last_version` (ANSI,
  // from the install record; empty: only the files' versions are recorded).
  // `leftovers` are files renamed aside that a program still holds; new ones
  // are added, and the journal keeps them.
  ComponentResult Install(const PendingComponent& component, const std::string& last_version,
                          std::vector<std::string>& leftovers);

 private:
  ComponentResult Transact(const PendingComponent& component, const std::string& last_version,
                           std::vector<std::string>& leftovers);
  std::vector<FileSwap> PlanSwaps(const PendingComponent& component);
  std::vector<RecordWrite> RecordOf(const PendingComponent& component,
                                    const std::string& last_version);
  void Stage(const std::vector<FileSwap>& swaps, std::string& step);
  ComponentResult WaitUntilReplaceable(const std::vector<FileSwap>& swaps);
  ComponentResult Commit(InstallJournal& journal, std::vector<std::string>& leftovers);
  void RollBack(InstallJournal& journal, std::size_t failed);
  void LogInstalled(const std::vector<FileSwap>& swaps);
  void Journal(const InstallJournal& journal);
  ComponentResult Failure(const std::string& file, const std::string& detail);

  platform::Platform p_;
  std::string update_dir_;
  InstallPolicy policy_;
  Logger log_;
};

// What keeps a file from being replaced, in the log's words: "in use by
// another program", "needs administrator rights", or the system's own.
std::string AccessWords(const platform::AccessCheck& check);

}  // namespace mb::updater
