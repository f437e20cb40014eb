// Deliberately broken answers (ServerOptions::misbehaviour), so tests can see
// how an agent copes with resets, truncated or endless bodies, slow links,
// server errors, redirect loops and wrong digests.
#pragma once

#include <httplib.h>

#include <atomic>
#include <optional>
#include <string>

#include "server/endpoints.h"
#include "server/options.h"

namespace mb::server {

// The names used on the command line: "reset", "short-body", "endless",
// "slow-drip", "error-500", "redirect-loop", "wrong-hash", "none".
std::optional<Misbehaviour> ParseMisbehaviour(const std::string& name);

// Each digest in a manifest's HASH lines changed in its last hex digit.
std::string WithWrongHashes(const std::string& manifest);

// Writes the reply into res the broken way the options ask for. Bodies that
// are sent slowly or never end give up once `stopping` is set.
void RespondBadly(const ServerOptions& options, const Reply& reply, const httplib::Request& req,
                  const std::atomic<bool>& stopping, httplib::Response& res);

}  // namespace mb::server
