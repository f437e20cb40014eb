// One log file of the server, appended to by many threads: each line is one
// write of its own (appended whole, no lock, nothing buffered), so the log
// is complete the moment a request has been answered. Reopen() starts a new
// file of the same name after logrotate moved the old one away (SIGUSR1).
#pragma once

#include <string>

namespace mb::server {

class LogFile {
 public:
  // An empty path writes to stderr. Throws std::runtime_error if the file
  // cannot be opened for appending.
  explicit LogFile(std::string path);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Writes line (ending in "\n") whole; a full disk loses it, nothing else.
  void Write(const std::string& line) const;
  // Opens the path again; writes under way finish in the old file. False
  // (and the old file kept) when it cannot be opened.
  bool Reopen();
  bool ToStderr() const { return path_.empty(); }

 private:
  std::string path_;
  int fd_;
};

}  // namespace mb::server
