// One update run: connectivity, the server's pause state, the manifests,
// the product's and the agent's passes, then the hand-off or a new run.
#include "agent/bas_win_api.h"
#include "agent/frm_tray.h"
#include "agent/pause_state.h"
#include "install/update_folder.h"
#include "planning/ini_formats.h"
#include "planning/transfer_limits.h"

namespace mb {

namespace {
constexpr int kReRunIntervalMs = 500;
}

void frmTray::RunUpdate() {
  int next_run_ms = kReRunIntervalMs;
  try {
    state_.UpdateDue = false;
    state_.FilesToDownload = 0;
    state_.RetryPending = false;
    plan_refused_ = false;
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
      LaunchUpdaterAndQuit();
    }
    if (state_.RetryPending || plan_refused_) {
      ++retry_prompt_count_;
    } else {
      retry_prompt_count_ = 0;
      next_run_ms = IdleRunInterval(pause.settings);
    }
  } catch (const std::exception& e) {
    retry_prompt_count_ = 0;
    ShowBox(GetMsgByLangCode(4) + " : " + e.what());
  }
  ReArm(next_run_ms);
}

void frmTray::ReArm(int interval_ms) { EnableTimer1(interval_ms); }

// With every pass complete, a run hands over when its lists asked for
// files. A pass whose plan was refused fails alone: a new run could not
// mend it (only a new release can), and the files the other passes listed
// are handed over all the same; with none, there is nothing to hand over.
bool frmTray::HasHandOver() const {
  if (!state_.UpdateDue || state_.FilesToDownload <= 0) return false;
  return !plan_refused_ || !listed_.empty();
}

// A run that found nothing to do waits as long as the server's POLL setting
// asks, on the same timer, so the window system keeps running meanwhile.
// Without it (or after a failed run) the next run comes 500 ms later.
int frmTray::IdleRunInterval(const PauseSettings& settings) {
  if (!settings.poll_seconds) return kReRunIntervalMs;
  return PollIntervalMs(*settings.poll_seconds, p_.process->RandomNumber());
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
