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
    const std::string server_state = CheckServerPause();
    if (server_state == "R") {
      ShowBox(GetMsgByLangCode(6));
      EndProcess(kExitRefused);
    }
    if (server_state == "N") state_.FolderParam = "&Folder=ORG";
    if (server_state == "Y") state_.FolderParam = "&Folder=MIRROR";
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
    }
  } catch (const std::exception& e) {
    retry_prompt_count_ = 0;
    ShowBox(GetMsgByLangCode(4) + " : " + e.what());
  }
  ReArm();
}

void frmTray::ReArm() { EnableTimer1(kReRunIntervalMs); }

// With every pass complete, a run hands over when its lists asked for
// files. A pass whose plan was refused fails alone: a new run could not
// mend it (only a new release can), and the files the other passes listed
// are handed over all the same; with none, there is nothing to hand over.
bool frmTray::HasHandOver() const {
  if (!state_.UpdateDue || state_.FilesToDownload <= 0) return false;
  return !plan_refused_ || !listed_.empty();
}

std::string frmTray::CheckServerPause() {
  const std::string path = state_.UpdateDir + "\\" + ini::kPauseFile;
  if (p_.fs->IsOrdinaryFile(path)) p_.fs->DeleteFile(path);
  p_.windows->PumpMessages();
  const std::string url = state_.ServerUrl + state_.VirtualDir + "/download/pause.aspx";
  if (!basWinAPI::DownloadFile(p_, url, path, TextTransfer())) return "N";
  std::string line;
  {
    auto file = p_.fs->OpenRead(path);
    line = ReadFirstLine(*file, static_cast<std::size_t>(kTextTransferCap));
  }
  if (p_.fs->IsOrdinaryFile(path)) p_.fs->DeleteFile(path);
  return PauseStateForLine(p_.codepage->FromAnsi(line));
}

void frmTray::LaunchUpdaterAndQuit() {
  p_.process->ShellOpen(ini::kUpdaterFile, ini::kMainWindowCaption, InstallDir());
  if (splash_) splash_->Unload();
  EndProcess(kExitHandOff);
}

void frmTray::ShowStatus(const std::string& text) { Splash().SetCurrentCaption(text); }

}  // namespace mb
