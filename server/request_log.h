// The server's log: one line per request (time, method, target, status) and
// the reasons behind refusals, to a file or to stderr. Thread-safe.
#pragma once

#include <fstream>
#include <mutex>
#include <string>

namespace mb::server {

class RequestLog {
 public:
  // An empty path logs to stderr. Throws std::runtime_error if the file
  // cannot be opened for appending.
  explicit RequestLog(const std::string& path);

  void Request(const std::string& method, const std::string& target, int status);
  void Note(const std::string& target, const std::string& note);

 private:
  void Line(const std::string& text);

  std::mutex mutex_;
  std::ofstream file_;
  bool to_file_;
};

}  // namespace mb::server
