#include "server/metrics.h"

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

}  // namespace

std::string MetricsText(const MetricsSample& sample) {
  std::string out;
  RequestFamilies(out, sample);
  ReleaseFamilies(out, sample);
  return out;
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
}

MetricsSample Metrics::Sample(const ReleaseSnapshot& current,
                              std::chrono::system_clock::time_point now) const {
  MetricsSample m;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    m.requests = requests_;
    m.downloads = downloads_;
    m.sent_bytes = sent_bytes_;
    m.not_modified = not_modified_;
  }
  m.open_connections = open_connections_;
  m.snapshots = snapshots_;
  const std::chrono::duration<double> age = now - current.BuiltAt();
  m.snapshot_age_seconds = age.count() > 0 ? age.count() : 0;
  m.snapshot_warnings = current.Warnings().size();
  m.releases = PublishedReleases(current);
  return m;
}

}  // namespace mb::server
