// The server's log: one line per request (time, method, target, status) and
// the reasons behind refusals and the findings of each release snapshot, to
// a file or to stderr. Each line is one write of its own (appended whole,
// no lock, nothing buffered), so the log keeps up with a busy server and is
// complete the moment a request has been answered.
#pragma once

#include <string>
#include <string_view>

namespace mb::server {

class RequestLog {
 public:
  // An empty path logs to stderr. Throws std::runtime_error if the file
  // cannot be opened for appending.
  explicit RequestLog(const std::string& path);
  ~RequestLog();
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;

  void Request(std::string_view method, std::string_view target, std::string_view status);
  void Note(std::string_view target, std::string_view note);
  // A finding that concerns no request (release snapshots, start-up).
  void Warning(std::string_view text);
  bool ToStderr() const { return fd_ == 2; }

 private:
  void Line(std::string& text);

  int fd_;
};

}  // namespace mb::server
