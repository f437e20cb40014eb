// One request, from its request line to its completion: what the answer
// chain decided and what the completion hands to the request log (and to
// whatever else counts requests). It holds the snapshot its answer lives
// in until the answer has been sent.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "server/observe/report_key.h"
#include "server/release_snapshot.h"

namespace mb::server {

// Where a request went, for counting it: the endpoint ("pause",
// "update_notice", "outlook_dll", "express_exe", "agent_exe", "report"; empty for a
// target that is none), the server folder it named ("ORG", "MIRROR"; empty
// for none or an unknown one), and for a release file its component folder
// ("outlook", "express", "agent") and published name.
struct Route {
  std::string endpoint;
  std::string folder;
  std::string component;
  std::string file;
};

struct Exchange {
  std::string target;  // as sent
  std::string client;  // the peer's address, numeric
  std::string method = "?";
  int status = 0;           // 0: no answer was queued (refused by the HTTP layer)
  std::uint64_t bytes = 0;  // body bytes of the answer queued
  std::string refusal;      // why the request was refused, for the warnings log
  Route route;              // where the answer chain routed it
  bool headers_seen = false;
  std::shared_ptr<const ReleaseSnapshot> snapshot;
  std::shared_ptr<const void> keep;  // what else the answer lives in (the pause with its shares)
  std::optional<ReportKey> report;   // an agent's report, as it is counted
};

}  // namespace mb::server
