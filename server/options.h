// How a mailbeacon-server instance is set up.
#pragma once

#include <string>

namespace mb::server {

// Deliberate faults, for testing how an agent copes with a broken server.
// Only kNone is built so far; the others are reserved names.
enum class Misbehaviour {
  kNone,
};

struct ServerOptions {
  std::string root = ".";               // the release folder
  std::string host = "127.0.0.1";
  int port = 0;                         // 0: any free port
  std::string vdir = "/mailbeaconhome";  // may be empty
  int code_page = 949;                  // the agents' ANSI code page
  std::string log_file;                 // empty: log to stderr
  Misbehaviour misbehaviour = Misbehaviour::kNone;
};

}  // namespace mb::server
