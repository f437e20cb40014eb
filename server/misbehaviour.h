// Deliberately broken answers (ServerOptions::misbehaviour), so tests can see
// how an agent copes with resets, truncated or endless bodies, slow links,
// server errors, redirect loops and wrong digests. The server runs a thread
// per connection while it misbehaves, so a slow body stalls only its own.
#pragma once

#include <microhttpd.h>

#include <atomic>
#include <optional>
#include <string>

#include "server/options.h"
#include "server/release_snapshot.h"

namespace mb::server {

// The names used on the command line: "reset", "short-body", "endless",
// "slow-drip", "error-500", "redirect-loop", "wrong-hash", "none".
std::optional<Misbehaviour> ParseMisbehaviour(const std::string& name);

// Each digest in a manifest's HASH lines changed in its last hex digit.
std::string WithWrongHashes(const std::string& manifest);

struct BadResponse {
  MHD_Response* response = nullptr;
  int status = 0;
};

// The answer, broken the way the options ask. socket is the connection's
// (for the reset); bodies sent slowly or never ending give up once
// `stopping` is set.
BadResponse RespondBadly(const ServerOptions& options, const Answer& answer,
                         const std::string& target, int socket, const std::atomic<bool>& stopping);

}  // namespace mb::server
