#include "server/answer_chain.h"

#include <optional>
#include <string_view>

#include "rules/ascii.h"
#include "server/http_answer.h"
#include "server/misbehaviour.h"
#include "server/request_target.h"

namespace mb::server {

// A step's answer, if it has one.
struct AnswerChain::Step {
  bool answered = false;
  int status = 0;
  MHD_Response* response = nullptr;
  std::uint64_t bytes = 0;
  std::string refusal;

  static Step Pass() { return {}; }
  static Step Text(int status, const std::string& body, int max_age, std::string why) {
    return {true, status, MakeTextResponse(body, max_age), body.size(), std::move(why)};
  }
};

namespace {

// RFC 9110 token characters: what a method and a header name are made of.
bool IsToken(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && std::string_view("!#$%&'*+-.^_`|~").find(c) == std::string_view::npos)
      return false;
  }
  return true;
}

MHD_Result CheckHeaderName(void* cls, MHD_ValueKind, const char* key, const char*) {
  if (IsToken(key)) return MHD_YES;
  *static_cast<bool*>(cls) = false;
  return MHD_NO;
}

bool IsHead(const Exchange& exchange) { return exchange.method == "HEAD"; }

// The body bytes of an answer sent whole.
std::uint64_t BodyBytes(const Answer& answer) {
  return answer.file ? answer.file->Size() : answer.body.size();
}

}  // namespace

MHD_Result AnswerChain::Answer(MHD_Connection* connection, Exchange& exchange) const {
  const std::optional<std::string> target = OriginForm(exchange.target);
  Step step = Malformed(connection, exchange, target.has_value());
  if (!step.answered) step = Reported(exchange, *target);
  if (!step.answered) step = Routed(connection, exchange, *target);
  exchange.status = step.status;
  exchange.bytes = IsHead(exchange) ? 0 : step.bytes;
  exchange.refusal = std::move(step.refusal);
  if (step.response == nullptr) return MHD_NO;
  MHD_Result queued =
      MHD_queue_response(connection, static_cast<unsigned>(step.status), step.response);
  MHD_destroy_response(step.response);  // the connection keeps its own reference
  return queued;
}

// The release's answer to the target, as the remaining steps shape it.
AnswerChain::Step AnswerChain::Routed(MHD_Connection* connection, Exchange& exchange,
                                      const std::string& target) const {
  Reply reply = endpoints_.Handle(target, *exchange.snapshot);
  exchange.route = reply.route;
  if (reply.route.endpoint == "pause") WithShares(exchange, reply);
  Step step = WrongMethod(exchange, reply);
  if (!step.answered) step = Misbehave(connection, exchange, reply);
  if (!step.answered) step = ChangedFile(reply);
  if (!step.answered) step = NotModified(connection, reply);
  if (!step.answered) step = Ranged(connection, reply);
  if (!step.answered) step = Whole(reply);
  return step;
}

// The library lets a few malformed requests through (an odd character in
// the method or a header name, a target that is no path); they get 400.
AnswerChain::Step AnswerChain::Malformed(MHD_Connection* connection, const Exchange& exchange,
                                         bool target_read) const {
  bool ok = IsToken(exchange.method) && target_read;
  if (ok) MHD_get_connection_values(connection, MHD_HEADER_KIND, &CheckHeaderName, &ok);
  if (ok) return Step::Pass();
  return Step::Text(400, "Bad Request", 0, "a malformed request");
}

// An agent's report: counted (where the request completes, and here for
// halting a release), answered 204 and never cached on the way, so each
// one reaches the server.
AnswerChain::Step AnswerChain::Reported(Exchange& exchange, const std::string& target) const {
  const RequestTarget t = SplitTarget(target);
  if (ascii::ToLower(t.path) != endpoints_.Prefix() + "report.aspx") return Step::Pass();
  exchange.route.endpoint = "report";
  if (exchange.method != "GET" && !IsHead(exchange)) {
    Step step = Step::Text(405, "Method Not Allowed", 0, "only GET and HEAD are answered");
    if (step.response != nullptr) MHD_add_response_header(step.response, "Allow", "GET, HEAD");
    return step;
  }
  if (!IsHead(exchange)) {
    const std::shared_ptr<const RolloutView> view = rollout_.View(exchange.snapshot);
    exchange.report = ReadReport(t.query, *view->known);
    rollout_.Reported(*exchange.report, exchange.snapshot);
  }
  MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
  if (response != nullptr) MHD_add_response_header(response, "Cache-Control", "no-store");
  return {true, 204, response, 0, {}};
}

// The pause answer with the shares of the rollout state, which the
// exchange keeps until the answer is sent.
void AnswerChain::WithShares(Exchange& exchange, Reply& reply) const {
  std::shared_ptr<const RolloutView> view = rollout_.View(exchange.snapshot);
  reply.answer = &view->pause;
  exchange.keep = std::move(view);
}

AnswerChain::Step AnswerChain::WrongMethod(const Exchange& exchange, const Reply& reply) const {
  bool get = exchange.method == "GET" || IsHead(exchange);
  if (reply.answer->status == 404 || get) return Step::Pass();
  Step step = Step::Text(405, "Method Not Allowed", options_.cache.text_max_age,
                         "only GET and HEAD are answered");
  if (step.response != nullptr) MHD_add_response_header(step.response, "Allow", "GET, HEAD");
  return step;
}

AnswerChain::Step AnswerChain::Misbehave(MHD_Connection* connection, const Exchange& exchange,
                                         const Reply& reply) const {
  if (options_.misbehaviour == Misbehaviour::kNone ||
      exchange.target.find(options_.misbehave_on) == std::string::npos)
    return Step::Pass();
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  BadResponse bad = RespondBadly(options_, *reply.answer, exchange.target,
                                 info != nullptr ? info->connect_fd : -1, stopping_);
  return {true, bad.status, bad.response, 0, {}};
}

AnswerChain::Step AnswerChain::ChangedFile(const Reply& reply) const {
  const mb::server::Answer& answer = *reply.answer;
  if (!answer.file || answer.file->Unchanged()) return Step::Pass();
  watch_.Poke();
  Step step = Step::Text(503, "Service Unavailable", 0,
                         "the file changed since it was published; not served");
  if (step.response != nullptr) MHD_add_response_header(step.response, "Retry-After", "1");
  return step;
}

AnswerChain::Step AnswerChain::NotModified(MHD_Connection* connection, const Reply& reply) const {
  const char* none_match =
      MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "If-None-Match");
  const char* modified_since =
      MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "If-Modified-Since");
  if (!ClientHoldsAnswer(*reply.answer, none_match, modified_since)) return Step::Pass();
  return {true, 304, MakeNotModified(*reply.answer), 0, {}};
}

AnswerChain::Step AnswerChain::Ranged(MHD_Connection* connection, const Reply& reply) const {
  const mb::server::Answer& answer = *reply.answer;
  const ByteRange range = RequestedRange(connection, answer);
  if (range.kind == ByteRange::Kind::kPart)
    return {true, 206, MakePartResponse(answer, range), range.length, {}};
  if (range.kind == ByteRange::Kind::kUnsatisfiable)
    return {true, 416, MakeUnsatisfiable(answer), 0, {}};
  return Step::Pass();
}

AnswerChain::Step AnswerChain::Whole(const Reply& reply) const {
  const mb::server::Answer& answer = *reply.answer;
  std::string refusal = reply.note;
  if (refusal.empty() && answer.status == 500)
    refusal = "the server cannot publish this (see the warnings)";
  return {true, answer.status, MakeResponse(answer), BodyBytes(answer), std::move(refusal)};
}

}  // namespace mb::server
