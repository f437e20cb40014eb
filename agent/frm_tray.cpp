// Start-up and the start-timer event: every run starts here.
#include "agent/frm_tray.h"

#include "agent/start_delay.h"
#include "install/update_folder.h"
#include "planning/ini_formats.h"

namespace mb {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr int kRetryPromptAfter = 3;

std::string KoreanTitle() {
  return std::string("Mailbeacon의 부가기능은 Microsoft® Outlook®을 실행하시면 보입니다.") + kCrLf +
         "Microsoft® Outlook®실행중에 설치하셨다면, " + kCrLf + "이후 실행시부터 보입니다." +
         kCrLf + kCrLf + "최신버전의 파일을 설치합니다." + kCrLf + "잠시만 기다려주십시오.";
}

std::string EnglishTitle() {
  return std::string("Mailbeacon add-in menu created") + kCrLf + "(re)Start Microsoft® Outlook.®" +
         kCrLf + kCrLf + "Installing newest files.." + kCrLf + "Wait a moment...";
}

}  // namespace

frmTray::frmTray(platform::Platform& platform) : p_(platform) {}
frmTray::~frmTray() = default;

frmSplash& frmTray::Splash() {
  if (!splash_) splash_ = std::make_unique<frmSplash>(*p_.windows);
  return *splash_;
}

std::string frmTray::InstallDir() { return p_.process->InstallDir(); }

void frmTray::Form_Load() {
  p_.windows->HideMainWindow();
  p_.windows->LeaveTaskList();
  LoadLanguage();
  EnableTimer1(StartIntervalMs(p_.process->Arguments()));
}

// One agent per install and user at a time: a second one (a double-click
// beside the log-on start) ends at once, touching nothing, so two agents
// never download the same release or write the same records.
int frmTray::Start() {
  if (!instance_lock_) instance_lock_ = p_.process->TryLockInstance(InstallDir());
  if (!instance_lock_) return kExitAlreadyRunning;
  try {
    Form_Load();
  } catch (const ProcessEnd& end) {
    return end.status;
  }
  return Run();
}

int frmTray::Run() {
  try {
    p_.windows->RunMessageLoop([this] { Timer1_Timer(); });
  } catch (const ProcessEnd& end) {
    return end.status;
  }
  // The loop stopped with no run ending the process: the window system's
  // limit on runs was reached (a script's bounded run), or nothing is armed.
  return timer_enabled_ ? kExitRunLimit : kExitError;
}

void frmTray::Timer1_Timer() {
  DisableTimer1();
  LoadServerSettings();
  LoadTrustedKeys();
  if (retry_prompt_count_ >= kRetryPromptAfter && !AskRetry()) EndProcess(kExitRetryDeclined);
  Splash().Show();
  ShowTitle();
  Splash().Refresh();
  Splash().SetCurrentCaption(GetMsgByLangCode(1));
  p_.windows->PumpMessages();
  state_.InstalledKind = DetectInstallType();
  PrepareUpdateDir();
  RunUpdate();
}

void frmTray::ShowTitle() {
  if (state_.Language == kKorean) {
    Splash().SetPicture(2);
    Splash().SetTitleCaption(KoreanTitle());
  } else if (state_.Language == kEnglish) {
    Splash().SetPicture(3);
    Splash().SetTitleCaption(EnglishTitle());
  }
}

// After three runs in a row could not finish their downloads, the user is
// asked whether to go on retrying; No ends the agent until its next start.
// With nobody to answer (no terminal on POSIX) the agent keeps retrying, as
// it did before the question existed: a brief server fault must not stop
// unattended updates.
bool frmTray::AskRetry() {
  if (!p_.windows->CanAskUser()) {
    retry_prompt_count_ = 0;
    return true;
  }
  if (p_.windows->MessageBoxYesNo(GetMsgByLangCode(8), kRetryTitle)) {
    retry_prompt_count_ = 0;
    return true;
  }
  p_.windows->MessageBoxInformation(GetMsgByLangCode(9), kRetryTitle);
  return false;
}

// Fixes the working paths, creates the update directory and removes the
// pending-install list of an earlier run: every run starts without one.
// Before that, what the updater left is taken over (an install a crash cut
// off is made whole, its outcome read, the copies it did not install set
// aside for the next pass). When the folder cannot be made or the list not
// removed the agent cannot work at all: it says why and ends.
void frmTray::PrepareUpdateDir() {
  state_.UpdateDir = InstallDir() + "\\update";
  state_.DownloadIniPath = state_.UpdateDir + "\\" + ini::kPendingListFile;
  state_.InstallIniPath = state_.UpdateDir + "\\" + ini::kInstallRecordFile;
  try {
    // A folder of the agent's own, never one a link leads to.
    if (p_.fs->IsLink(state_.UpdateDir)) {
      throw Error(kErrRefusedName, "the update folder is a link: " + state_.UpdateDir);
    }
    if (!p_.fs->Exists(state_.UpdateDir)) p_.fs->CreateDirectory(state_.UpdateDir);
    for (const std::string& name : RemoveLinks(*p_.fs, state_.UpdateDir)) {
      LogOnce("Removed a link from the update folder : " + name);
    }
    TakeOverFromUpdater();
    if (p_.fs->IsOrdinaryFile(state_.DownloadIniPath)) p_.fs->DeleteFile(state_.DownloadIniPath);
  } catch (const std::exception& e) {
    ShowBox(GetMsgByLangCode(4) + " : " + e.what());
    EndProcess(kExitError);
  }
}

void frmTray::EnableTimer1(int interval_ms) {
  timer_interval_ = interval_ms;
  timer_enabled_ = true;
  p_.windows->ArmTimer(interval_ms);
}

void frmTray::DisableTimer1() {
  timer_enabled_ = false;
  p_.windows->DisarmTimer();
}

void frmTray::EndProcess(int status) { throw ProcessEnd{status}; }

void frmTray::ShowBox(const std::string& text) { p_.windows->MessageBoxOk(text, kAppTitle); }

}  // namespace mb
