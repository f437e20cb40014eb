// Reports to the vendor (agent/reports.h): queued while a run works, sent
// at its end - only when this run's pause file asked for them (REPORTS=Y)
// and the registry value Reports is not "0" - and otherwise dropped, so an
// agent of a server that publishes none makes the requests the design
// makes, and writes nothing more.
#include <exception>

#include "agent/bas_win_api.h"
#include "agent/frm_tray.h"
#include "install/rollout.h"
#include "planning/ini_formats.h"
#include "rules/agent_files.h"

namespace mb {
namespace {

constexpr const char* kReportsValue = "Reports";
constexpr const char* kActiveMark = "ACTIVE";
constexpr const char* kRefusedMark = "REFUSED";
constexpr const char* kReportFile = "report.txt";

// Short, and never the run's failure: a server without the endpoint, or
// one slow to answer, changes nothing.
platform::DownloadOptions ReportTransfer() {
  platform::DownloadOptions o;
  o.max_bytes = std::int64_t{64} * 1024;
  o.connect_timeout_ms = 3000;
  o.stall_timeout_ms = 3000;
  o.min_rate_bytes_per_s = 0;
  o.note_failure = false;
  return o;
}

}  // namespace

void frmTray::QueueOutcomeReport(const ComponentOutcome& o) {
  const std::optional<std::int16_t> kind = ini::KindOfSection(o.section);
  if (!kind) return;
  const bool installed = o.result == kOutcomeInstalled;
  pending_reports_.push_back(
      {{*kind, p_.codepage->FromAnsi(o.from), p_.codepage->FromAnsi(o.release),
        installed ? ReportResult::kInstalled : ReportResult::kFailed, installed ? "" : o.reason},
       "",
       ""});
}

void frmTray::NoteRefusedRelease(std::int16_t kind, const std::string& to,
                                 const std::string& reason) {
  const std::string section = ini::NamesFor(kind)->ComponentSection;
  const std::string mark = RefusalMark(to, reason, Today());
  if (GetVal(section, kRefusedMark, ReportsPath()) == mark) return;  // told today
  for (const PendingReport& p : pending_reports_) {
    if (p.mark_key == kRefusedMark && p.mark_value == mark && p.report.kind == kind) return;
  }
  const std::string from = GetVal(section, ini::kInstallVersionKey, state_.InstallIniPath);
  pending_reports_.push_back(
      {{kind, from, to, ReportResult::kRefused, reason}, kRefusedMark, mark});
}

// The installed release of the product and of the agent, once a day.
void frmTray::QueueActiveReports() {
  for (const std::int16_t kind : {state_.InstalledKind, std::int16_t{kAgentComponent}}) {
    const std::string section = ini::NamesFor(kind)->ComponentSection;
    const std::string installed = GetVal(section, ini::kInstallVersionKey, state_.InstallIniPath);
    if (installed.empty() || GetVal(section, kActiveMark, ReportsPath()) == Today()) continue;
    pending_reports_.push_back(
        {{kind, installed, installed, ReportResult::kActive, ""}, kActiveMark, Today()});
  }
}

void frmTray::SendReports(bool wanted) {
  if (!wanted || ReportsTurnedOff()) {
    pending_reports_.clear();
    return;
  }
  QueueActiveReports();
  const std::optional<int> slot = KnownRolloutSlot();
  const std::string local = state_.UpdateDir + "\\" + kReportFile;
  for (const PendingReport& p : pending_reports_) {
    const std::string url = state_.ServerUrl + state_.VirtualDir + "/download/report.aspx?" +
                            ReportQuery(p.report, slot);
    try {
      basWinAPI::DownloadFile(p_, url, local, ReportTransfer());
      if (p_.fs->IsOrdinaryFile(local)) p_.fs->DeleteFile(local);
    } catch (const std::exception&) {
      // Told or not, it is not sent again today.
    }
    if (!p.mark_key.empty()) {
      PutVal(ini::NamesFor(p.report.kind)->ComponentSection, p.mark_key, p.mark_value,
             ReportsPath());
    }
  }
  pending_reports_.clear();
}

bool frmTray::ReportsTurnedOff() {
  std::string value;
  GetRegValue(platform::kHkeyCurrentUser, kProductKey, kReportsValue, value);
  return value == "0";
}

// The number this machine drew for staged releases, if it ever drew one:
// a report never draws one.
std::optional<int> frmTray::KnownRolloutSlot() {
  std::string text;
  GetRegValue(platform::kHkeyCurrentUser, kProductKey, kRolloutSlotValue, text);
  return KeptRolloutSlot(text);
}

std::string frmTray::Today() {
  const platform::LocalTime now = p_.process->Now();
  return DayText({now.year, now.month, now.day});
}

std::string frmTray::ReportsPath() const { return state_.UpdateDir + "\\" + files::kReportsSent; }

}  // namespace mb
