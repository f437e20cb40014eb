// How the server answers one request: a chain of named steps, and the first
// step that has an answer ends it.
//
//   Malformed    400 for what the HTTP layer let through
//   Report       204 for an agent's report (report.aspx), counted
//   Route        the release's answer to the target (endpoints.h); the
//                pause answer with the rollout shares (rollout_board.h)
//   WrongMethod  405 on an endpoint for anything but GET and HEAD
//   Misbehave    the broken answer asked for (--misbehave)
//   ChangedFile  503 for a file written over since its digest was taken
//   NotModified  304 for a client that holds the answer already
//   Ranged       206 or 416 for a Range request
//   Whole        the answer itself
//
// Each step leaves in the exchange what the completion of the request
// needs (the request log; counters): the status, the body bytes and, for a
// refusal, its reason.
#pragma once

#include <microhttpd.h>

#include <atomic>

#include "server/endpoints.h"
#include "server/exchange.h"
#include "server/options.h"
#include "server/release_watch.h"
#include "server/rollout/rollout_board.h"

namespace mb::server {

class AnswerChain {
 public:
  AnswerChain(const ServerOptions& options, const Endpoints& endpoints, ReleaseWatch& watch,
              RolloutBoard& rollout, const std::atomic<bool>& stopping)
      : options_(options),
        endpoints_(endpoints),
        watch_(watch),
        rollout_(rollout),
        stopping_(stopping) {}

  // Queues the answer to the request on the connection.
  MHD_Result Answer(MHD_Connection* connection, Exchange& exchange) const;

 private:
  struct Step;
  // target_read: the target is in origin or absolute form (request_target.h).
  Step Malformed(MHD_Connection* connection, const Exchange& exchange, bool target_read) const;
  // target: in origin form.
  Step Reported(Exchange& exchange, const std::string& target) const;
  void WithShares(Exchange& exchange, Reply& reply) const;
  // target: in origin form.
  Step Routed(MHD_Connection* connection, Exchange& exchange, const std::string& target) const;
  Step WrongMethod(const Exchange& exchange, const Reply& reply) const;
  Step Misbehave(MHD_Connection* connection, const Exchange& exchange, const Reply& reply) const;
  Step ChangedFile(const Reply& reply) const;
  Step NotModified(MHD_Connection* connection, const Reply& reply) const;
  Step Ranged(MHD_Connection* connection, const Reply& reply) const;
  Step Whole(const Reply& reply) const;

  const ServerOptions& options_;
  const Endpoints& endpoints_;
  ReleaseWatch& watch_;
  RolloutBoard& rollout_;
  const std::atomic<bool>& stopping_;
};

}  // namespace mb::server
