// One update run: connectivity, the server's pause state, the manifests,
// the product's and the agent's passes, then the hand-off or a new run.
#include "agent/bas_win_api.h"
#include "agent/frm_tray.h"
#include "agent/pause_state.h"
#include "agent/run_pace.h"
#include "install/update_folder.h"
#include "planning/ini_formats.h"
#include "planning/transfer_limits.h"

namespace mb {

void frmTray::RunUpdate() {
  std::optional<int> poll_seconds;
  bool reports = false;
  bool failed = true;
  try {
    pause_settings_ = {};
    state_.UpdateDue = false;
    state_.FilesToDownload = 0;
    state_.RetryPending = false;
    plan_refused_ = false;
    refused_ = false;
    waiting_ = false;
    listed_.clear();
    if (!basWinAPI::IsOnline(p_)) {
      ShowBox(GetMsgByLangCode(5));
      EndProcess(kExitOffline);
    }
    const PauseAnswer pause = CheckServerPause();
    if (pause.state == ServerState::kRefused) {
      ShowBox(GetMsgByLangCode(6));
      EndProcess(kExitRefused);
    }
    poll_seconds = pause.settings.poll_seconds;
    pause_settings_ = pause.settings;
    reports = pause.settings.reports;
    state_.FolderParam = pause.state == ServerState::kOrg ? "&Folder=ORG" : "&Folder=MIRROR";
    ShowStatus(GetMsgByLangCode(7));
    ReadVersionFromSite(state_.InstalledKind);
    subDownLoadNewVersion(state_.InstalledKind);
    if (!state_.RetryPending) subDownLoadNewVersion(kAgentComponent);
    // A copy that no list of this run names is of no use to anyone: the next
    // run decides what to fetch by the target folders, never by the copies.
    ClearUpdateFolder(*p_.fs, state_.UpdateDir,
                      [this](const std::string& name) { return listed_.HasCopy(name); });
    if (!state_.RetryPending && HasHandOver()) {
      retry_prompt_count_ = 0;
      DownloadUpdateNotice("");
      SendReports(reports);
      LaunchUpdaterAndQuit();
    }
    // Only a failed download counts towards the retry question: a refused
    // release or plan, or a folder this user may not write, is nothing the
    // user could mend by retrying.
    if (state_.RetryPending) {
      ++retry_prompt_count_;
    } else {
      retry_prompt_count_ = 0;
    }
    failed = state_.RetryPending || waiting_;
  } catch (const std::exception& e) {
    retry_prompt_count_ = 0;
    ShowBox(GetMsgByLangCode(4) + " : " + e.what());
  }
  SendReports(reports);
  ReArm(NextRunInterval(failed, poll_seconds));
  failed_runs_ = failed ? failed_runs_ + 1 : 0;
}

void frmTray::ReArm(int interval_ms) { EnableTimer1(interval_ms); }

// With every pass complete, a run hands over when its lists asked for
// files. A pass whose plan or release was refused, or that waits for a file
// in use, does not stop the others: the files they listed are handed over
// all the same; with none, there is nothing to hand over.
bool frmTray::HasHandOver() const {
  if (!state_.UpdateDue || state_.FilesToDownload <= 0) return false;
  return !(plan_refused_ || refused_ || waiting_) || !listed_.empty();
}

// The wait is the timer's, so the window system keeps running meanwhile.
// The system's random source is asked only when POLL spreads the wait.
int frmTray::NextRunInterval(bool failed, std::optional<int> poll_seconds) {
  const std::uint32_t random = poll_seconds ? p_.process->RandomNumber() : 0;
  return NextRunIntervalMs(failed ? RunEnd::kFailed : RunEnd::kNothingToDo, poll_seconds,
                           failed_runs_, random);
}

PauseAnswer frmTray::CheckServerPause() {
  const std::string path = state_.UpdateDir + "\\" + ini::kPauseFile;
  if (p_.fs->IsOrdinaryFile(path)) p_.fs->DeleteFile(path);
  p_.windows->PumpMessages();
  const std::string url = state_.ServerUrl + state_.VirtualDir + "/download/pause.aspx";
  if (!basWinAPI::DownloadFile(p_, url, path, TextTransfer())) return {};
  std::string bytes;
  {
    auto file = p_.fs->OpenRead(path);
    bytes = ReadPauseFile(*file, static_cast<std::size_t>(kTextTransferCap));
  }
  if (p_.fs->IsOrdinaryFile(path)) p_.fs->DeleteFile(path);
  const std::string line = p_.codepage->FromAnsi(std::string(FirstLineOf(bytes)));
  return {PauseStateForLine(line), PauseSettingsOf(bytes)};
}

void frmTray::LaunchUpdaterAndQuit() {
  p_.process->ShellOpen(ini::kUpdaterFile, ini::kMainWindowCaption, InstallDir());
  if (splash_) splash_->Unload();
  EndProcess(kExitHandOff);
}

void frmTray::ShowStatus(const std::string& text) { Splash().SetCurrentCaption(text); }

}  // namespace mb
