// One request, from its request line to its completion: what the answer
// chain decided and what the completion hands to the request log (and to
// whatever else counts requests). It holds the snapshot its answer lives
// in until the answer has been sent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "server/release_snapshot.h"

namespace mb::server {

struct Exchange {
  std::string target;  // as sent
  std::string client;  // the peer's address, numeric
  std::string method = "?";
  int status = 0;           // 0: no answer was queued (refused by the HTTP layer)
  std::uint64_t bytes = 0;  // body bytes of the answer queued
  std::string refusal;      // why the request was refused, for the warnings log
  bool headers_seen = false;
  std::shared_ptr<const ReleaseSnapshot> snapshot;
};

}  // namespace mb::server
