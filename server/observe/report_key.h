// What an agent reports (report.aspx?component=C&from=F&to=T&result=R
// &reason=W&slot=S), read into the labels it is counted under. A label
// value never comes from what a client sent unless it is one of a fixed
// set, or a release the server published for that component: anything
// else counts as "other", so no client can add series.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace mb::server {

inline constexpr const char* kOtherLabel = "other";

struct ReportKey {
  std::string component;  // outlook, express, agent, other
  std::string release;    // the release reported on (T), or other
  std::string result;     // installed, failed, refused, active, other
  std::string reason;     // a reason of that result, "" when it has none, or other
  bool operator<(const ReportKey& o) const {
    return std::tie(component, release, result, reason) <
           std::tie(o.component, o.release, o.result, o.reason);
  }
  bool operator==(const ReportKey&) const = default;
};

// Releases by component word ("express"): what the server published.
using KnownReleases = std::map<std::string, std::set<std::string>>;

// The results, and the reasons each may give ("" for installed and active).
const std::vector<std::string_view>& ReportResults();
const std::vector<std::string_view>& ReportReasons(std::string_view result);

// The query after "report.aspx?", read as nginx reads queries (the first
// key wins, names without regard to case), values percent-decoded.
ReportKey ReadReport(std::string_view query, const KnownReleases& known);

// %XX escapes decoded; nothing for a broken escape.
std::optional<std::string> PercentDecoded(std::string_view text);

}  // namespace mb::server
