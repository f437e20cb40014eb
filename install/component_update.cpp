// One component's pass: compare, plan, download and verify every listed
// file, install the updater's own file at once (with a backup of the old
// copy), leave the rest for the external updater and record them.
#include <new>

#include "agent/bas_win_api.h"
#include "agent/frm_tray.h"
#include "install/arriving_digests.h"
#include "install/kept_downloads.h"
#include "install/rollout.h"
#include "install/transfer_progress.h"
#include "install/update_folder.h"
#include "planning/ini_formats.h"
#include "planning/transfer_limits.h"
#include "rules/fleet_settings.h"
#include "support/local_time.h"
#include "support/text.h"

namespace mb {

namespace {

constexpr long kErrOutOfMemory = 7;
constexpr long kErrInternal = 51;

}  // namespace

void frmTray::subDownLoadNewVersion(std::int16_t kind) {
  std::int32_t position = 0;
  try {
    RunComponentPass(kind, position);
    Splash().Complete(true);
  } catch (const Error& e) {
    ShowPassError(position, e.number());
  } catch (const std::bad_alloc&) {
    ShowPassError(position, kErrOutOfMemory);
  } catch (const std::exception&) {
    ShowPassError(position, kErrInternal);
  }
}

void frmTray::ShowPassError(std::int32_t position, long number) {
  ShowBox(GetMsgByLangCode(4) + " : subDownLoadNewVersion : position - " +
          std::to_string(position) + ", " + std::to_string(number));
}

void frmTray::RunComponentPass(std::int16_t kind, std::int32_t& position) {
  if (!ManifestTrusted(kind)) {
    // A manifest that a trusted key does not vouch for fails the pass;
    // nothing is fetched. A new run at once could not mend it: the run waits
    // as one with nothing to do.
    ShowStatus(GetMsgByLangCode(3));
    refused_ = true;
    return;
  }
  const std::optional<ini::ComponentNames> names = ini::NamesFor(kind);
  const bool published =
      names && p_.fs->IsOrdinaryFile(state_.UpdateDir + "\\" + names->ManifestFile);
  const bool current = IsUpToDate(kind, 0);
  position = 2;
  if (current) {
    // Nothing to fetch: what a cut transfer or a failed pass kept is of no use.
    if (published) ForgetUnplanned(*p_.fs, state_.UpdateDir, kind, {});
    return;
  }
  // Held back from a staged release: what was kept may serve it later.
  if (!InRollout(kind)) return;
  state_.UpdateDue = true;
  DownloadList list;
  target_dir_failed_ = false;
  const std::int16_t n = BuildDownloadList(kind, list);
  state_.FilesToDownload += n;
  Int16 remaining = n;
  position = 4;
  if (target_dir_failed_) {
    // A folder the agent cannot make fails the pass visibly, rather than
    // passing for a component with nothing to fetch.
    LogOnce("Update not possible : " + target_dir_problem_);
    NoteRefusedRelease(kind, LastVersionOf(kind),
                       std::string(target_dir_denied_ ? kRefusedRights : kRefusedPlan));
    ShowStatus(GetMsgByLangCode(3));
    plan_refused_ = true;
    return;
  }
  if (n <= 0) return;
  ForgetUnplanned(*p_.fs, state_.UpdateDir, kind, PlannedFiles(list));
  ShowStatus(GetMsgByLangCode(2));
  Int16 deferred;
  std::string last_version;
  std::string stars;
  // A plan the updater could not apply is refused as a whole, before
  // anything is fetched; it fails this pass only (plan_refused_). One that
  // names a file an earlier pass of this run listed waits for the next
  // start, when that pass is done: a new run now would fetch the earlier
  // pass's files again for nothing.
  const PlanVerdict verdict = CheckPlan(list);
  bool complete = verdict == PlanVerdict::kSound;
  if (!complete) ShowStatus(GetMsgByLangCode(3));
  // Nothing is fetched for files the updater could not put in place: a
  // folder this user may not write fails the pass as a refused plan; a
  // release put back for a file in use waits until the file is free.
  if (complete && !TargetsWritable(list)) {
    ShowStatus(GetMsgByLangCode(3));
    plan_refused_ = true;
    NoteRefusedRelease(kind, list.front().LastVersion, std::string(kRefusedRights));
    return;
  }
  if (complete && WaitsForFileInUse(kind, list)) {
    waiting_ = true;
    return;
  }
  std::size_t verified = 0;
  for (std::size_t i = 0; complete && i < list.size(); ++i) {
    FileRecord& r = list[i];
    if (!FetchVerified(kind, r, static_cast<int>(i) + 1, static_cast<int>(list.size()))) {
      ShowStatus(GetMsgByLangCode(3));
      complete = false;
      break;
    }
    ++verified;
    if (last_version.empty()) last_version = r.LastVersion;
    if (text::Contains(r.Name, ini::kUpdaterNameMark)) {
      InstallDirectly(r);
      --remaining;
    } else {
      ++deferred;
      stars += "*";
      ShowStatus(stars);
    }
  }
  position = 5;
  if (complete && remaining == deferred) {
    RecordInstalledFiles(kind, list, last_version);
    RememberListed(list);
    for (const FileRecord& r : list) {
      if (!r.OrgName.empty()) handed_digests_[r.Name] = r.Hash;
    }
  } else if (verdict == PlanVerdict::kRefused) {
    plan_refused_ = true;
    NoteRefusedRelease(kind, list.front().LastVersion, std::string(kRefusedPlan));
  } else if (verdict == PlanVerdict::kSound) {  // a download or a digest failed
    if (deferred > 0) DeleteDownloads(kind, list, verified);
    state_.RetryPending = true;
  }
  position = 6;
}

// A release staged to part of the installations: one outside it is held
// back and the run treats the component as up to date. A release for
// everyone never looks at (or draws) this installation's number.
bool frmTray::InRollout(std::int16_t kind) {
  const auto names = ini::NamesFor(kind);
  if (!names) return true;
  const std::string manifest = state_.UpdateDir + "\\" + names->ManifestFile;
  const std::optional<int> set = ReleaseShareOf(kind, LastVersionOf(kind));
  const int percent =
      set ? *set : RolloutPercent(GetVal(ini::kDownloadSection, ini::kRolloutKey, manifest));
  return percent >= kFullRollout || TakesRelease(percent, RolloutSlot());
}

// The share the vendor set for this very release in the pause file (no
// signature covers it: it only chooses who takes a release, never which).
// The add-in's version folder first, as the server serves it when it has
// one.
std::optional<int> frmTray::ReleaseShareOf(std::int16_t kind, const std::string& release) {
  const std::string folder = state_.FolderParam == "&Folder=MIRROR" ? "MIRROR/" : "ORG/";
  std::vector<std::string> components;
  if (kind == kOutlookAddin) components.push_back("outlook/" + OutlookVersionLabel());
  components.emplace_back(ComponentWord(kind));
  for (const std::string& component : components) {
    const auto value =
        fleet::PauseSetting(pause_settings_.bytes, fleet::ReleaseShareKey(folder + component));
    if (!value) continue;
    const auto share = fleet::ParseReleaseShare(*value);
    if (share && p_.codepage->FromAnsi(std::string(share->release)) == release) return share->share;
  }
  return std::nullopt;
}

// Downloads one listed file into the update directory and checks its
// digest (an empty HASH is not checked), and for a signed release its signed
// SHA-256. False on a failed download or a digest that differs, letter case
// included. The digests are made while the bytes arrive: the same MD5 that
// MD5File would read back from the file, without reading it again. A copy
// with the same digests is used instead of fetching (one a stopped agent
// left, or one a failed pass set aside), and a transfer cut earlier goes on
// where it stopped, its digests made from the bytes kept first.
bool frmTray::FetchVerified(std::int16_t kind, const FileRecord& r, int index, int count) {
  const std::string local = state_.UpdateDir + "\\" + r.Name;
  // A signed LENGTH bounds the bytes fetched and kept for the file.
  const std::optional<std::int64_t> cap = FileCap(kind, r);
  if (!cap) return false;
  platform::Crypto* sha256_from = keys_.Active() ? p_.crypto : nullptr;
  // A copy counts only with every digest a download would have to match.
  const CopyFits fits = [&](const std::string& path) {
    const std::optional<FileDigests> d = DigestsOfFile(*p_.fs, path, sha256_from);
    return d && d->md5 == r.Hash && (!keys_.Active() || d->sha256 == r.Sha256);
  };
  if (ReuseVerifiedCopy(*p_.fs, state_.UpdateDir, r, fits)) return true;
  TransferProgress progress(Splash(), *p_.windows, index, count);
  ResumableDownload resumable(*p_.fs, state_.UpdateDir, kind, r, *cap);
  const std::optional<FileDigests> arrived = FetchWithDigests(
      p_, r.DownloadUrl, local, &progress, sha256_from, resumable.Partial(), *cap);
  if (!arrived) return false;
  resumable.Done();
  if (!r.Hash.empty() && arrived->md5 != r.Hash) return false;
  return SignedDigestFits(kind, r, arrived->sha256);
}

// The updater's own file is put in place by the agent: the old copy is kept
// as "<name>_old", the new one goes in through a temporary name so a failed
// copy never leaves a truncated updater, and it is made runnable.
void frmTray::InstallDirectly(FileRecord& r) {
  const std::string local = state_.UpdateDir + "\\" + r.Name;
  const std::string target = r.TargetDir + "\\" + r.OrgName;
  RemoveStaleTemporaries(*p_.fs, r.TargetDir, r.OrgName);  // what a crash left of an earlier try
  if (p_.fs->IsOrdinaryFile(target)) p_.fs->CopyFile(target, target + "_old");
  p_.fs->CopyFile(local, target);
  p_.fs->MakeExecutable(target);
  if (p_.fs->IsOrdinaryFile(target)) p_.fs->DeleteFile(local);
  PutVal(r.OrgName, ini::kVersionKey, r.Version, state_.InstallIniPath);
  PutVal(r.OrgName, ini::kUpdateKey, FormatTimestamp(p_.process->Now()), state_.InstallIniPath);
  r.OrgName.clear();
}

// A failed pass removes every copy of its list from the update folder; the
// first `verified` were checked against their digests, and go to the
// scratch area for the next pass instead.
void frmTray::DeleteDownloads(std::int16_t kind, const DownloadList& list, std::size_t verified) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string local = state_.UpdateDir + "\\" + list[i].Name;
    if (!p_.fs->IsOrdinaryFile(local)) continue;
    if (i < verified && SetAside(*p_.fs, state_.UpdateDir, kind, list[i])) continue;
    p_.fs->DeleteFile(local);
  }
}

}  // namespace mb
