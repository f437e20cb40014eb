// How a mailbeacon-server instance is set up.
#pragma once

#include <string>

#include "server/release_snapshot.h"

namespace mb::server {

// Deliberate faults, for testing how an agent copes with a broken server.
enum class Misbehaviour {
  kNone,
  kResetMidBody,  // half the body, then the connection is reset (RST)
  kShortBody,     // half the body, then a clean close short of Content-Length
  kEndlessBody,   // a chunked body that never ends
  kSlowDrip,      // the right body, one byte per drip_ms
  kServerError,   // 500 instead of the answer
  kRedirectLoop,  // 302 back to the same URL
  kWrongHash,     // manifests publish a HASH that no file has
};

struct ServerOptions {
  std::string root = ".";  // the release folder
  std::string host = "127.0.0.1";
  int port = 0;                          // 0: any free port
  std::string vdir = "/mailbeaconhome";  // may be empty
  int code_page = 949;                   // the agents' ANSI code page
  std::string log_file;                  // warnings and refusals; empty: stderr
  std::string access_log_file;           // a line per request; empty: none
  std::string metrics_listen;            // "HOST:PORT" of GET /metrics; empty: no metrics
  Misbehaviour misbehaviour = Misbehaviour::kNone;
  std::string misbehave_on;  // only targets containing this text; empty: every request
  int drip_ms = 100;         // kSlowDrip: pause after each byte

  CachePolicy cache;            // Cache-Control max-age of answers
  int max_connections = 10000;  // open connections at once; more wait in the backlog
  int per_ip_connections = 0;   // from one address at once; 0: no limit of its own
  int idle_timeout_s = 15;      // a connection silent this long is closed
  // A request's headers must all arrive this long after the connection
  // waits for them (a header line now and then does not keep it open).
  int header_timeout_s = 10;
  int threads = 0;              // serving threads; 0: one per processor
  int check_interval_ms = 250;  // how often the release folder is looked at
  bool record_requests = true;  // keep every target for Requests() (tests)

  // The warning ahead of a served signature's expiry, in days.
  int expiry_warning_days = 14;
};

}  // namespace mb::server
