// The running server's side of staged releases: it keeps the rollout state
// of ROOT/rollout/rollout.ini (looked at, one stat, at most four times a
// second while requests come in, so a `rollout` command holds within a
// second, without a restart and without touching a signed file), makes the
// pause answer with the shares (release_shares.h) once per snapshot and
// state, counts the installed and failed reports of each release, and halts
// a release by itself when its rule says so (halt_rule.h): it writes
// HALTED into the file, or, when it cannot write there, holds the halt in
// memory until the vendor changes that component's entry, and says so in
// the warnings log either way.
//
// A halting rule counts the reports that came in since the entry was last
// changed by `rollout` (or since the server started): `--share` again
// resumes a halted release and starts the count afresh.
//
// It also warns, once a day, about signatures that expire within the
// warning days.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "server/ansi_code_page.h"
#include "server/observe/report_key.h"
#include "server/release_snapshot.h"
#include "server/rollout/halt_rule.h"
#include "server/rollout/release_shares.h"
#include "server/rollout/rollout_state.h"

namespace mb::server {

// What one snapshot and one rollout state give the requests that read them.
struct RolloutView {
  Answer pause;                        // the pause answer with the shares
  std::vector<ComponentShare> shares;  // every published component folder
  std::shared_ptr<const KnownReleases> known;
};

class RolloutBoard {
 public:
  using Warn = std::function<void(const std::string&)>;
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  RolloutBoard(std::filesystem::path root, int code_page, CachePolicy policy,
               int expiry_warning_days, Warn warn, Clock clock = std::chrono::system_clock::now);

  // The view for this snapshot; the state file is looked at first when the
  // last look is a quarter of a second old.
  std::shared_ptr<const RolloutView> View(const std::shared_ptr<const ReleaseSnapshot>& snapshot);
  // A report was counted: installed and failed ones of a published
  // release count towards halting it.
  void Reported(const ReportKey& report, const std::shared_ptr<const ReleaseSnapshot>& snapshot);
  // The state as it holds now (tests).
  RolloutState State();

 private:
  using Release = std::pair<std::string, std::string>;  // component word, release

  void LookAtFile(bool now);
  void Load();
  void Recompose(const std::shared_ptr<const ReleaseSnapshot>& snapshot);
  RolloutState Effective() const;
  void CheckHalts(const ReleaseSnapshot& snapshot);
  void Halt(const std::string& key, const RolloutEntry& entry, const OutcomeCounts& since);
  void WarnAboutExpiry(const ReleaseSnapshot& snapshot);

  std::filesystem::path root_;
  AnsiCodePage cp_;
  CachePolicy policy_;
  int expiry_warning_days_;
  Warn warn_;
  Clock clock_;

  std::mutex mutex_;
  std::chrono::steady_clock::time_point last_look_{};
  std::chrono::steady_clock::time_point last_expiry_look_{};
  std::string stamp_ = "unread";
  RolloutState state_;                              // as the file says
  std::map<std::string, RolloutEntry> held_halts_;  // halted here, the file could not say so
  std::map<Release, OutcomeCounts> counts_;
  std::map<std::string, OutcomeCounts> bases_;  // by component folder
  std::shared_ptr<const ReleaseSnapshot> snapshot_;
  std::shared_ptr<const RolloutView> view_;
  bool view_stale_ = true;
  KnownReleases known_;
  std::set<std::string> problems_told_;
  std::map<std::string, std::int64_t> expiry_told_;  // key -> the day it was last told
};

}  // namespace mb::server
