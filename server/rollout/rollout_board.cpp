#include "server/rollout/rollout_board.h"

#include "server/observe/known_releases.h"
#include "server/observe/signature_expiry.h"
#include "server/rollout/rollout_file.h"
#include "support/md5.h"
#include "trust/timestamp.h"

namespace mb::server {
namespace {

constexpr auto kLookInterval = std::chrono::milliseconds(250);
constexpr auto kExpiryLookInterval = std::chrono::hours(1);
constexpr std::int64_t kSecondsPerDay = 86400;

// The entry as `rollout` wrote it: what the server itself adds left out.
RolloutEntry AsSet(RolloutEntry entry) {
  entry.halted.clear();
  return entry;
}

std::string HaltText(const std::string& root, const std::string& key, const RolloutEntry& entry,
                     const OutcomeCounts& since) {
  const std::uint64_t reports = since.installed + since.failed;
  const std::string from = entry.changed.empty() ? "the server's start" : entry.changed;
  return key + ": release " + entry.release + " halted by itself: " + std::to_string(since.failed) +
         " of " + std::to_string(reports) + " installed and failed reports since " + from +
         " were failed (more than " + std::to_string(entry.halt->above_percent) +
         " %, after at least " + std::to_string(entry.halt->min_reports) +
         "); no agent takes it now (share 0) until mailbeacon-server rollout --root " + root +
         " --component " + key + " --share P";
}

}  // namespace

RolloutBoard::RolloutBoard(std::filesystem::path root, int code_page, CachePolicy policy,
                           int expiry_warning_days, Warn warn, Clock clock)
    : root_(std::move(root)),
      cp_(code_page),
      policy_(policy),
      expiry_warning_days_(expiry_warning_days),
      warn_(std::move(warn)),
      clock_(std::move(clock)) {}

std::shared_ptr<const RolloutView> RolloutBoard::View(
    const std::shared_ptr<const ReleaseSnapshot>& snapshot) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string stamp = stamp_;
  LookAtFile(false);
  const bool new_snapshot = snapshot != snapshot_;
  if (new_snapshot) {
    snapshot_ = snapshot;
    LearnReleases(*snapshot, root_, known_);
    view_stale_ = true;
  }
  if (new_snapshot || stamp != stamp_) CheckHalts(*snapshot);
  const auto now = std::chrono::steady_clock::now();
  if (new_snapshot || now - last_expiry_look_ >= kExpiryLookInterval) {
    last_expiry_look_ = now;
    WarnAboutExpiry(*snapshot);
  }
  if (view_stale_) Recompose(snapshot);
  return view_;
}

void RolloutBoard::Reported(const ReportKey& report,
                            const std::shared_ptr<const ReleaseSnapshot>& snapshot) {
  const bool installed = report.result == "installed";
  if ((!installed && report.result != "failed") || report.release == kOtherLabel) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    OutcomeCounts& counts = counts_[{report.component, report.release}];
    ++(installed ? counts.installed : counts.failed);
  }
  View(snapshot);  // the state and the snapshot as they are now
  std::lock_guard<std::mutex> lock(mutex_);
  CheckHalts(*snapshot);
}

RolloutState RolloutBoard::State() {
  std::lock_guard<std::mutex> lock(mutex_);
  LookAtFile(true);
  return Effective();
}

void RolloutBoard::LookAtFile(bool now) {
  const auto t = std::chrono::steady_clock::now();
  if (!now && t - last_look_ < kLookInterval) return;
  last_look_ = t;
  std::string stamp = RolloutFileStamp(root_);
  if (stamp == stamp_) return;
  stamp_ = std::move(stamp);
  Load();
}

// A changed entry starts its count afresh; a halt held here ends once the
// vendor changed that entry.
void RolloutBoard::Load() {
  RolloutRead read = ReadRolloutFile(root_);
  for (const std::string& p : read.problems) {
    if (problems_told_.insert(p).second) warn_(p);
  }
  for (const auto& [key, entry] : read.state) {
    const auto old = state_.find(key);
    if (old == state_.end() || AsSet(old->second) != AsSet(entry))
      bases_[key] = counts_[{ComponentWordOf(key), entry.release}];
  }
  for (auto it = held_halts_.begin(); it != held_halts_.end();) {
    const auto now = read.state.find(it->first);
    const bool unchanged = now != read.state.end() && AsSet(now->second) == AsSet(it->second);
    it = unchanged ? std::next(it) : held_halts_.erase(it);
  }
  state_ = std::move(read.state);
  view_stale_ = true;
}

RolloutState RolloutBoard::Effective() const {
  RolloutState state = state_;
  for (const auto& [key, held] : held_halts_) {
    auto it = state.find(key);
    if (it != state.end() && it->second.halted.empty()) it->second.halted = held.halted;
  }
  return state;
}

void RolloutBoard::Recompose(const std::shared_ptr<const ReleaseSnapshot>& snapshot) {
  SharedPause shared = ComposePause(snapshot->Pause(), snapshot->Components(), Effective(), cp_);
  for (const std::string& p : shared.problems) {
    if (problems_told_.insert(p).second) warn_(p);
  }
  auto view = std::make_shared<RolloutView>();
  view->pause = snapshot->Pause();
  if (shared.body != view->pause.body) {
    view->pause.body = std::move(shared.body);
    view->pause.etag = "\"" + Md5HexOf(view->pause.body) + "\"";
    view->pause.last_modified =
        std::max(view->pause.last_modified, std::chrono::system_clock::to_time_t(clock_()));
  }
  view->shares = std::move(shared.shares);
  view->known = std::make_shared<KnownReleases>(known_);
  view_ = std::move(view);
  view_stale_ = false;
}

void RolloutBoard::CheckHalts(const ReleaseSnapshot& snapshot) {
  for (const auto& [key, entry] : Effective()) {
    if (!entry.halt) continue;
    const auto c = snapshot.Components().find(key);
    if (c == snapshot.Components().end() || c->second.manifest.status != 200) continue;
    const std::optional<int> share = entry.ShareFor(c->second.last_version);
    if (entry.release != c->second.last_version || share == 0) continue;
    const OutcomeCounts since = Since(counts_[{ComponentWordOf(key), entry.release}], bases_[key]);
    if (ShouldHalt(*entry.halt, since)) Halt(key, entry, since);
  }
}

// HALTED goes into the file, so that a restarted server, the export and
// `rollout` see it; the view changes at once either way.
void RolloutBoard::Halt(const std::string& key, const RolloutEntry& entry,
                        const OutcomeCounts& since) {
  const std::string when = trust::FormatUtcTime(std::chrono::system_clock::to_time_t(clock_()));
  std::string text = HaltText(root_.string(), key, entry, since);
  try {
    UpdateRolloutFile(root_, [&](RolloutState& state) {
      auto it = state.find(key);
      if (it != state.end() && AsSet(it->second) == AsSet(entry)) it->second.halted = when;
    });
    stamp_ = "written";
    LookAtFile(true);
  } catch (const std::exception& e) {
    RolloutEntry held = entry;
    held.halted = when;
    held_halts_[key] = held;
    text += "; the halt could not be written (" + std::string(e.what()) +
            "): it holds in this server only, until it stops";
  }
  // The file may have changed in between: the halt holds in any case.
  const RolloutState now = Effective();
  const auto after = now.find(key);
  if (after == now.end() || after->second.halted.empty()) {
    RolloutEntry held = entry;
    held.halted = when;
    held_halts_[key] = held;
  }
  view_stale_ = true;
  warn_(text);
}

void RolloutBoard::WarnAboutExpiry(const ReleaseSnapshot& snapshot) {
  const std::int64_t now = std::chrono::system_clock::to_time_t(clock_());
  for (const SignatureExpiry& e : SignatureExpiries(snapshot)) {
    const std::optional<std::string> warning = ExpiryWarning(e, now, expiry_warning_days_);
    if (!warning) continue;
    std::int64_t& told = expiry_told_[e.key + " " + std::to_string(e.expires)];
    if (told == now / kSecondsPerDay) continue;
    told = now / kSecondsPerDay;
    warn_(*warning);
  }
}

}  // namespace mb::server
