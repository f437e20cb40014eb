// The agent object: the hidden main window "Mailbeacon_Shell", owner of all
// agent state, the start timer and every agent operation. Its operations are
// implemented in the area they belong to (agent/, planning/, install/,
// support/); this header gathers them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agent/agent_state.h"
#include "agent/pause_state.h"
#include "agent/reports.h"
#include "install/install_outcome.h"
#include "planning/file_record.h"
#include "platform/platform.h"
#include "progress/frm_splash.h"
#include "rules/list_rules.h"
#include "trust/key_ring.h"
#include "trust/manifest_policy.h"
#include "trust/root.h"

namespace mb {

namespace ini {
struct ComponentNames;
}

class frmTray {
 public:
  explicit frmTray(platform::Platform& platform);
  ~frmTray();

  // --- start-up and runs
  void Form_Load();
  void Timer1_Timer();
  // Runs the message loop until a run ends the process; returns its status.
  int Run();
  // The whole life of the agent: Form_Load, then Run; returns the status.
  int Start();

  // --- settings and installed product
  void LoadLanguage();
  void LoadServerSettings();
  bool SaveServerUrl(const std::string& url);
  bool SaveVirtualDir(const std::string& dir);
  std::int16_t DetectInstallType();
  // This installation's number for staged rollouts (0 to 99), drawn once.
  int RolloutSlot();

  // --- run driver
  void RunUpdate();
  PauseAnswer CheckServerPause();
  [[noreturn]] void LaunchUpdaterAndQuit();
  void ShowStatus(const std::string& text);

  // --- version check and planning
  void ReadVersionFromSite(std::int16_t kind);
  bool IsUpToDate(std::int16_t kind, std::int16_t mode);
  std::int16_t BuildDownloadList(std::int16_t kind, DownloadList& list);
  void MakeDirPath(const std::string& path);
  void RecordInstalledFiles(std::int16_t kind, const DownloadList& list,
                            const std::string& lastVersion);

  // --- installation
  void subDownLoadNewVersion(std::int16_t kind);
  void DownloadUpdateNotice(const std::string& unused);

  // --- support services (public operations of the agent object)
  std::string MD5File(const std::string& path);
  std::string GetVal(const std::string& strSection, const std::string& strKey,
                     const std::string& strFile);
  void PutVal(const std::string& strSection, const std::string& strKey, const std::string& strVal,
              const std::string& strFile);
  std::string GetOutlookVersion();
  std::int32_t GetRegValue(std::uint32_t RootKeyName, const std::string& SubKeyName,
                           const std::string& ValueName, std::string& KeyValue);
  std::int32_t SaveRegValueString(std::uint32_t RootKeyName, const std::string& SubKeyName,
                                  const std::string& ValueName, const std::string& KeyValue);
  std::string GetMsgByLangCode(std::int16_t intCode);
  std::string GetKoreanMessage(std::int16_t intCode);
  std::string GetEnglishMessage(std::int16_t intCode);
  void WriteUpdateLog(const std::string& text);

  // --- state
  AgentState& State() { return state_; }
  frmSplash& Splash();  // made on first use
  bool SplashLoaded() const { return splash_ && splash_->Loaded(); }
  int Timer1Interval() const { return timer_interval_; }
  bool Timer1Enabled() const { return timer_enabled_; }
  std::int16_t RetryPromptCount() const { return retry_prompt_count_; }
  // A pass of this run planned what the updater could not apply.
  bool PlanRefused() const { return plan_refused_; }
  std::string InstallDir();

 private:
  void EnableTimer1(int interval_ms);
  void DisableTimer1();
  void ReArm(int interval_ms);
  int NextRunInterval(bool failed, std::optional<int> poll_seconds);
  bool HasHandOver() const;
  [[noreturn]] void EndProcess(int status);
  void ShowBox(const std::string& text);
  bool AskRetry();
  void PrepareUpdateDir();
  void ShowTitle();
  std::string OutlookVersionLabel();
  std::string ListBaseUrl(std::int16_t kind);
  FileRecord ReadManifestFile(const std::string& manifest, int index);
  std::string ResolveTargetDir(const std::string& dir);
  bool NeedsFetch(const FileRecord& r);
  bool MakeTargetDir(const std::string& dir);
  // What a planned pass may hand over, checked before anything is fetched.
  enum class PlanVerdict {
    kSound,
    kRefused,   // the updater could not apply it: the pass fails and the run repeats
    kCollides,  // sound, but names a file an earlier pass of this run listed
  };
  PlanVerdict CheckPlan(const DownloadList& list);
  void RememberListed(const DownloadList& list);
  bool FitsCodePage(const std::string& text);
  std::optional<std::string> ListedTargetDir(const std::string& dir);
  void WritePendingList(const ini::ComponentNames& names, const DownloadList& list,
                        std::int16_t pending);
  void RunComponentPass(std::int16_t kind, std::int32_t& position);
  bool InRollout(std::int16_t kind);
  std::optional<int> ReleaseShareOf(std::int16_t kind, const std::string& release);
  void ShowPassError(std::int32_t position, long number);
  bool FetchVerified(std::int16_t kind, const FileRecord& r, int index, int count);
  void InstallDirectly(FileRecord& r);
  void DeleteDownloads(std::int16_t kind, const DownloadList& list, std::size_t verified);
  // --- signed releases (agent/release_trust.cpp): nothing changes without
  // a trusted key.
  void LoadTrustedKeys();
  bool ManifestTrusted(std::int16_t kind);
  bool SignedDigestFits(std::int16_t kind, const FileRecord& r, const std::string& sha256);
  std::vector<std::string> SignedComponentNames(std::int16_t kind);
  std::optional<trust::AcceptedRelease> AcceptedRelease(std::int16_t kind);
  void RememberAccepted(std::int16_t kind, std::int64_t signed_at,
                        const trust::Expectation& expect);
  std::string AcceptedSignaturesPath();
  void Refuse(std::int16_t kind, const std::string& url, const std::string& what,
              const std::string& reason);

  platform::Platform& p_;
  AgentState state_;
  std::unique_ptr<frmSplash> splash_;
  int timer_interval_ = 0;
  bool timer_enabled_ = false;
  Int16 retry_prompt_count_;
  // Set by BuildDownloadList when a target folder is not absolute or cannot
  // be made: the pass then fails, as one whose plan is refused.
  bool target_dir_failed_ = false;
  // A pass of this run failed on its plan (a target folder, the list
  // rules, a folder this user may not write), not on a download: the other
  // passes' files are handed over.
  bool plan_refused_ = false;
  // A pass of this run was refused its release (signed releases): it waits
  // as a run with nothing to do waits, never asking the retry question.
  bool refused_ = false;
  // A pass of this run waits for a file that another program holds, which
  // made the updater put its release back: it is handed over again once the
  // file is free, with the copies already verified.
  bool waiting_ = false;
  // Failed runs in a row, for the back-off under POLL.
  int failed_runs_ = 0;
  // What this run's pause file set (POLL, REPORTS, shares of releases).
  PauseSettings pause_settings_;
  // The files that passes of this run left for the updater.
  ListedFiles listed_;
  // Signed releases: the keys of this run, the newest signing time accepted
  // per component (also kept in accepted_signatures.ini), the manifest URLs of this
  // run (for the failure line), and the refusal last written to the update
  // log per component, so a refusal repeated every 500 ms is logged once.
  trust::KeyRing keys_;
  std::map<std::int16_t, trust::AcceptedRelease> accepted_;
  std::map<std::int16_t, std::string> manifest_urls_;
  std::map<std::int16_t, std::string> logged_refusal_;

  // --- what the updater left (install/after_updater.cpp)
  void TakeOverFromUpdater();
  void SetAsideHandedOver();
  bool TargetsWritable(const DownloadList& list);
  bool WaitsForFileInUse(std::int16_t kind, const DownloadList& list);
  std::string FolderProblem(const std::string& dir, const std::string& error);
  std::string LastVersionOf(std::int16_t kind);
  void LogOnce(const std::string& line);
  // Held for the agent's whole life: one agent per install at a time.
  std::unique_ptr<platform::InstanceLock> instance_lock_;
  // What the updater last did with each component (by section), as read
  // from its outcome; and the digests of the copies this agent handed over.
  std::map<std::string, ComponentOutcome> outcomes_;
  std::map<std::string, std::string> handed_digests_;
  // Why the last target folder could not be made, for the log, and whether
  // the cause is rights this user lacks.
  std::string target_dir_problem_;
  bool target_dir_denied_ = false;
  // Lines written to the update log once in this agent's life.
  std::vector<std::string> logged_once_;

  // --- reports to the vendor (agent/agent_reports.cpp), sent only when the
  // server asks for them and the machine has not turned them off.
 public:
  // A release refused for `reason` (a fixed word): reported once a day.
  void NoteRefusedRelease(std::int16_t kind, const std::string& to, const std::string& reason);

 private:
  struct PendingReport {
    Report report;
    std::string mark_key, mark_value;  // what reports.ini keeps once it is sent
  };
  void QueueOutcomeReport(const ComponentOutcome& outcome);
  void QueueActiveReports();
  void SendReports(bool wanted);
  bool ReportsTurnedOff();
  std::optional<int> KnownRolloutSlot();
  std::string Today();
  std::string ReportsPath() const;
  std::vector<PendingReport> pending_reports_;
  // --- signed releases, continued (agent/release_trust.cpp): the rule
  // against a step back, clocks, file lengths; and the root of trust
  // (agent/trusted_root.cpp), whose newest verified root names the release
  // keys when one is pinned.
  trust::Expectation ExpectationFor(std::int16_t kind, const std::string& path);
  void WarnAboutUnusableKeys();
  std::optional<std::int64_t> FileCap(std::int16_t kind, const FileRecord& r);
  void ForgetAccepted();
  void LogOnce(const std::string& topic, const std::string& line);
  void WriteLogLine(const std::string& line);
  bool LoadRootOfTrust();
  std::optional<trust::Root> StoredRoot(const trust::Root& pinned);
  void TrustRoot(const trust::Root& root);
  void RefreshRoot(const std::string& key_id);
  bool RootCheckDue();
  void WalkRoots();
  std::optional<std::string> FetchRoot(int version);
  std::string RootFilePath(const char* name);
  // The newest root verified (when one is pinned), why no release can be
  // trusted through it (it expired), the pinned root's id, the unknown
  // key ids a walk looked for already, and the lines logged once.
  std::optional<trust::Root> root_;
  std::string root_problem_;
  std::string pinned_root_id_;
  std::set<std::string> walked_for_;
  std::map<std::string, std::string> logged_notes_;
};

// Exit statuses of the agent.
inline constexpr int kExitHandOff = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitOffline = 2;
inline constexpr int kExitRefused = 3;
inline constexpr int kExitRetryDeclined = 4;
inline constexpr int kExitRunLimit = 5;        // a bounded run (POSIX: MAILBEACON_MAX_RUNS) ended
inline constexpr int kExitAlreadyRunning = 6;  // another agent works on this install

inline constexpr const char* kAppTitle = "Mailbeacon";
// The product's settings, under HKEY_CURRENT_USER.
inline constexpr const char* kProductKey = "SOFTWARE\\BrightHarbor\\MailbeaconCom";
// The vendor's server, used until the registry names another one.
inline constexpr const char* kDefaultServerUrl = "http://update.mailbeacon.com";
inline constexpr const char* kDefaultVirtualDir = "/mailbeaconhome";
inline constexpr const char* kRetryTitle = "Mailbeacon Installation";

}  // namespace mb
