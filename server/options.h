// How a mailbeacon-server instance is set up.
#pragma once

#include <string>

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
  std::string log_file;                  // empty: log to stderr
  Misbehaviour misbehaviour = Misbehaviour::kNone;
  std::string misbehave_on;  // only targets containing this text; empty: every request
  int drip_ms = 100;         // kSlowDrip: pause after each byte
};

}  // namespace mb::server
