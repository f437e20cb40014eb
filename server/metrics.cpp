#include "server/metrics.h"

#include "server/observe/known_releases.h"

#include <cstdio>
#include <string_view>
#include <utility>

namespace mb::server {
namespace {

using Label = std::pair<const char*, std::string_view>;

// A label value as the format wants it: backslash, quote and line feed
// escaped; everything else (UTF-8 included) as it is.
std::string Escaped(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '"')
      out += "\\\"";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string Labels(std::initializer_list<Label> labels) {
  std::string out = "{";
  for (const Label& l : labels) {
    if (out.size() > 1) out += ',';
    out.append(l.first).append("=\"").append(Escaped(l.second)).append("\"");
  }
  return out + "}";
}

void Family(std::string& out, const char* name, const char* type, const char* help) {
  out.append("# HELP ").append(name).append(" ").append(help).append("\n");
  out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void Line(std::string& out, const char* name, const std::string& labels, const std::string& v) {
  out.append(name).append(labels).append(" ").append(v).append("\n");
}

std::string Seconds(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", s);
  return buf;
}

void RequestFamilies(std::string& out, const MetricsSample& m) {
  Family(out, "mailbeacon_requests_total", "counter",
         "Requests answered, by endpoint, server folder and HTTP status (- when the HTTP layer "
         "refused the request).");
  for (const auto& [k, n] : m.requests) {
    Line(out, "mailbeacon_requests_total",
         Labels({{"endpoint", k.endpoint}, {"folder", k.folder}, {"status", k.status}}),
         std::to_string(n));
  }
  Family(out, "mailbeacon_sent_bytes_total", "counter", "Body bytes of the answers sent whole.");
  Line(out, "mailbeacon_sent_bytes_total", "", std::to_string(m.sent_bytes));
  Family(out, "mailbeacon_not_modified_total", "counter",
         "Answers 304 Not Modified (a cache that already held the answer).");
  Line(out, "mailbeacon_not_modified_total", "", std::to_string(m.not_modified));
  Family(out, "mailbeacon_downloads_total", "counter",
         "Release files sent whole to a GET (200, or 206 for a part), by server folder, "
         "component and published file name.");
  for (const auto& [k, n] : m.downloads) {
    Line(out, "mailbeacon_downloads_total",
         Labels({{"folder", k.folder}, {"component", k.component}, {"file", k.file}}),
         std::to_string(n));
  }
  Family(out, "mailbeacon_open_connections", "gauge", "Client connections open now.");
  Line(out, "mailbeacon_open_connections", "", std::to_string(m.open_connections));
}

void ReleaseFamilies(std::string& out, const MetricsSample& m) {
  Family(out, "mailbeacon_snapshots_total", "counter",
         "Release snapshots installed since the start (one per change of the release folder).");
  Line(out, "mailbeacon_snapshots_total", "", std::to_string(m.snapshots));
  Family(out, "mailbeacon_snapshot_age_seconds", "gauge",
         "Seconds since the snapshot being served was made.");
  Line(out, "mailbeacon_snapshot_age_seconds", "", Seconds(m.snapshot_age_seconds));
  Family(out, "mailbeacon_snapshot_warnings", "gauge",
         "Problems the current snapshot found in the release folder (see the warnings log).");
  Line(out, "mailbeacon_snapshot_warnings", "", std::to_string(m.snapshot_warnings));
  Family(out, "mailbeacon_release_info", "gauge",
         "Each component folder's published release (1), or 0 when it is refused and its "
         "manifest answers 500; rollout is the staged share, 100 for everyone.");
  for (const PublishedRelease& r : m.releases) {
    const std::string rollout = std::to_string(r.rollout.value_or(100));
    Line(out, "mailbeacon_release_info",
         Labels({{"folder", r.folder},
                 {"component", r.component},
                 {"label", r.label},
                 {"last_version", r.last_version},
                 {"rollout", rollout}}),
         r.published ? "1" : "0");
  }
}

void ReportFamilies(std::string& out, const MetricsSample& m) {
  Family(out, "mailbeacon_reports_total", "counter",
         "Reports of the agents (report.aspx), by component, release reported on, result "
         "(installed, failed, refused, active) and reason; other for anything outside the fixed "
         "words or the releases published.");
  for (const auto& [k, n] : m.reports) {
    Line(out, "mailbeacon_reports_total",
         Labels({{"component", k.component},
                 {"release", k.release},
                 {"result", k.result},
                 {"reason", k.reason}}),
         std::to_string(n));
  }
}

void RolloutFamilies(std::string& out, const MetricsSample& m) {
  Family(out, "mailbeacon_rollout_share", "gauge",
         "The share of the installations (0 to 100) that take each component folder's "
         "published release now: the share set by rollout, else the release's ROLLOUT, else 100.");
  for (const ComponentShare& s : m.shares) {
    Line(out, "mailbeacon_rollout_share", Labels({{"component", s.key}, {"release", s.release}}),
         std::to_string(s.share));
  }
  Family(out, "mailbeacon_rollout_halted", "gauge",
         "1 while the server has halted the published release by itself (share 0 until rollout "
         "--share), else 0.");
  for (const ComponentShare& s : m.shares) {
    Line(out, "mailbeacon_rollout_halted", Labels({{"component", s.key}, {"release", s.release}}),
         s.halted ? "1" : "0");
  }
  Family(out, "mailbeacon_signature_expiry_seconds", "gauge",
         "Seconds until the signature of each signed component folder expires (below 0 once "
         "it has: agents with trusted keys refuse it).");
  for (const auto& [key, seconds] : m.signature_expiries) {
    Line(out, "mailbeacon_signature_expiry_seconds", Labels({{"component", key}}),
         Seconds(seconds));
  }
}

}  // namespace

std::string MetricsText(const MetricsSample& sample) {
  std::string out;
  RequestFamilies(out, sample);
  ReleaseFamilies(out, sample);
  ReportFamilies(out, sample);
  RolloutFamilies(out, sample);
  return out;
}

void AddZeroCounters(const ReleaseSnapshot& snapshot, MetricsSample& sample) {
  for (const PublishedRelease& r : PublishedReleases(snapshot)) {
    if (!r.published) continue;
    for (const std::string_view result : ReportResults()) {
      for (const std::string_view reason : ReportReasons(result))
        sample.reports.try_emplace(
            {r.component, r.last_version, std::string(result), std::string(reason)}, 0);
    }
  }
  for (const auto& [key, component] : snapshot.Components()) {
    if (component.manifest.status != 200) continue;
    const std::size_t first = key.find('/');
    const std::string folder = key.substr(0, first);
    for (const auto& [program, file] : component.files)
      sample.downloads.try_emplace({folder, ComponentWordOf(key), file.file_name}, 0);
  }
}

std::vector<PublishedRelease> PublishedReleases(const ReleaseSnapshot& snapshot) {
  std::vector<PublishedRelease> releases;
  for (const auto& [key, component] : snapshot.Components()) {
    PublishedRelease r;
    const std::size_t first = key.find('/');
    const std::size_t second = key.find('/', first + 1);
    r.folder = key.substr(0, first);
    r.component = key.substr(first + 1, second == std::string::npos ? second : second - first - 1);
    if (second != std::string::npos) r.label = key.substr(second + 1);
    r.last_version = component.last_version;
    r.rollout = component.rollout;
    r.published = component.manifest.status == 200;
    releases.push_back(std::move(r));
  }
  return releases;
}

void Metrics::Completed(const Exchange& e, bool sent) {
  RequestKey key{e.route.endpoint.empty() ? "other" : e.route.endpoint, e.route.folder,
                 e.status > 0 ? std::to_string(e.status) : "-"};
  const bool download =
      sent && e.method == "GET" && (e.status == 200 || e.status == 206) && !e.route.file.empty();
  std::lock_guard<std::mutex> lock(mutex_);
  ++requests_[key];
  if (sent) sent_bytes_ += e.bytes;
  if (e.status == 304) ++not_modified_;
  if (download) ++downloads_[{e.route.folder, e.route.component, e.route.file}];
  if (e.report && e.method == "GET") ++reports_[*e.report];
}

MetricsSample Metrics::Sample(const ReleaseSnapshot& current,
                              std::chrono::system_clock::time_point now) const {
  MetricsSample m;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    m.requests = requests_;
    m.downloads = downloads_;
    m.reports = reports_;
    m.sent_bytes = sent_bytes_;
    m.not_modified = not_modified_;
  }
  m.open_connections = open_connections_;
  m.snapshots = snapshots_;
  const std::chrono::duration<double> age = now - current.BuiltAt();
  m.snapshot_age_seconds = age.count() > 0 ? age.count() : 0;
  m.snapshot_warnings = current.Warnings().size();
  m.releases = PublishedReleases(current);
  AddZeroCounters(current, m);
  if (gauges_) gauges_(m);
  return m;
}

}  // namespace mb::server
