// What an agent reports to the vendor, when the server asks for it
// (REPORTS=Y in the pause file) and the machine has not turned it off (the
// registry value Reports = 0): one GET a report,
//   <ServerUrl><VirtualDir>/download/report.aspx?component=C&from=F&to=T
//       &result=R&reason=W&slot=S
// C the component (outlook, express, agent), F the release installed
// before, T the release the report is about, R what became of it
// (installed, failed, refused, active), W a fixed word saying why (empty
// for installed and active), S this machine's rollout number (empty when
// none was ever drawn). Nothing else identifies the machine or its user.
//   installed / failed  once per hand-off, from what the updater left
//   refused             once a day per component, release and reason
//   active              once a calendar day per component, F = T = the
//                       installed release
// Reports never fail or delay a run: they are sent after its work with a
// short time-out, and one that is not answered is not sent again (the next
// day's is).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mb {

enum class ReportResult { kInstalled, kFailed, kRefused, kActive };

struct Report {
  std::int16_t kind = 0;  // ComponentKind
  std::string from, to;   // UTF-8
  ReportResult result = ReportResult::kActive;
  std::string reason;  // a fixed word
  bool operator==(const Report&) const = default;
};

std::string_view ComponentWord(std::int16_t kind);
std::string_view ResultWord(ReportResult result);

// The query after "report.aspx?"; text is percent-encoded as UTF-8 (every
// byte but letters, digits and "-._~").
std::string ReportQuery(const Report& report, std::optional<int> slot);

// The reasons a refused report gives.
inline constexpr std::string_view kRefusedRights = "rights";  // a folder that needs rights
inline constexpr std::string_view kRefusedPlan = "plan";      // a plan the updater would refuse

// "2026-12-08", the calendar day of a local time.
struct LocalDay {
  int year = 0, month = 0, day = 0;
};
std::string DayText(const LocalDay& day);

// What update\reports.ini keeps of a refused report: "release|reason|day".
std::string RefusalMark(const std::string& to, const std::string& reason, const std::string& day);

}  // namespace mb
