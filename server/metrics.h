// What a vendor watches of the server (GET /metrics on --metrics-listen, in
// the Prometheus text format): requests counted where they complete, beside
// the request log; gauges read from the current release snapshot when the
// metrics are asked for; the text made by a pure function of a sample.
//
// Every label value comes from a small set (endpoints, folders, statuses)
// or from the release itself (components, published file names, versions),
// never from what a client sent: a client cannot add series.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "server/exchange.h"
#include "server/observe/report_key.h"
#include "server/release_snapshot.h"
#include "server/rollout/release_shares.h"

namespace mb::server {

struct RequestKey {
  std::string endpoint;  // "pause", ..., "other"
  std::string folder;    // "ORG", "MIRROR", "" (none)
  std::string status;    // "200", ..., "-" (the HTTP layer refused the request)
  bool operator<(const RequestKey& o) const {
    return std::tie(endpoint, folder, status) < std::tie(o.endpoint, o.folder, o.status);
  }
};

struct DownloadKey {
  std::string folder;
  std::string component;  // "outlook", "express", "agent"
  std::string file;       // the published name
  bool operator<(const DownloadKey& o) const {
    return std::tie(folder, component, file) < std::tie(o.folder, o.component, o.file);
  }
};

// A component folder of the current snapshot: key "ORG/outlook/2003" split.
struct PublishedRelease {
  std::string folder, component, label;
  std::string last_version;    // empty when the component is refused
  std::optional<int> rollout;  // staged to this share
  bool published = false;      // false: its manifest answers 500
};

struct MetricsSample {
  std::map<RequestKey, std::uint64_t> requests;
  std::map<DownloadKey, std::uint64_t> downloads;
  std::uint64_t sent_bytes = 0;  // body bytes of the answers sent whole
  std::uint64_t not_modified = 0;
  std::int64_t open_connections = 0;
  std::uint64_t snapshots = 0;  // installed since the start
  double snapshot_age_seconds = 0;
  std::size_t snapshot_warnings = 0;
  std::vector<PublishedRelease> releases;
  std::map<ReportKey, std::uint64_t> reports;
  std::vector<ComponentShare> shares;                              // every published folder
  std::vector<std::pair<std::string, double>> signature_expiries;  // folder, seconds left
};

// The text exposition format, version 0.0.4.
std::string MetricsText(const MetricsSample& sample);

// What the snapshot publishes, one entry per component folder.
std::vector<PublishedRelease> PublishedReleases(const ReleaseSnapshot& snapshot);

// Every counter the snapshot lets the server know in advance, at 0 where
// nothing was counted yet (so that increase() sees its first count): each
// published file's downloads, and each result and reason of the reports on
// each published release.
void AddZeroCounters(const ReleaseSnapshot& snapshot, MetricsSample& sample);

class Metrics {
 public:
  // A request is done; sent: its answer went out whole.
  void Completed(const Exchange& exchange, bool sent);
  void ConnectionOpened() { ++open_connections_; }
  void ConnectionClosed() { --open_connections_; }
  void SnapshotInstalled() { ++snapshots_; }
  // Adds what others keep to every sample (the rollout shares, the
  // signatures' expiry); set before the metrics are served.
  using Gauges = std::function<void(MetricsSample&)>;
  void AddGauges(Gauges gauges) { gauges_ = std::move(gauges); }

  MetricsSample Sample(const ReleaseSnapshot& current,
                       std::chrono::system_clock::time_point now) const;

 private:
  mutable std::mutex mutex_;
  std::map<RequestKey, std::uint64_t> requests_;
  std::map<DownloadKey, std::uint64_t> downloads_;
  std::map<ReportKey, std::uint64_t> reports_;
  Gauges gauges_;
  std::uint64_t sent_bytes_ = 0;
  std::uint64_t not_modified_ = 0;
  std::atomic<std::int64_t> open_connections_{0};
  std::atomic<std::uint64_t> snapshots_{0};
};

}  // namespace mb::server
