// A loopback HTTP server with strict expectations: it answers only the exact
// targets (path and query) a test scripted, records every request in order,
// and answers anything else with 404 so the test sees it in Requests().
#pragma once

#include <httplib.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mb::test {

struct ScriptedAnswer {
  int status = 200;
  std::string body;
};

class ScriptedServer {
 public:
  ScriptedServer();
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  std::string Url() const;  // "http://127.0.0.1:PORT"
  void Answer(const std::string& target, ScriptedAnswer answer);
  void Answer(const std::string& target, const std::string& body) { Answer(target, {200, body}); }
  std::vector<std::string> Requests() const;
  void ClearRequests();

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::map<std::string, ScriptedAnswer> answers_;
  std::vector<std::string> requests_;
};

}  // namespace mb::test
