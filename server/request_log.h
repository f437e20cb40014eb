// The server's two logs. The warnings log (--log, else stderr) keeps what a
// vendor must act on: what each release snapshot finds wrong and the
// requests the server refused (one line each, at most kRefusalsPerSecond a
// second, the rest counted), so it stays small whatever clients send. The
// access log (--access-log, optional) has one line per request:
//
//   2026-12-07 14:05:09 192.0.2.7 GET /mailbeaconhome/download/pause.aspx 200 3
//
// (time, client, method, target, status, body bytes; "-" for a status
// when the HTTP layer refused the request, for bytes when the answer was
// not sent whole). Everything a client sent is escaped (log_text.h) and cut
// at kMaxTargetBytes, so a request adds at most two short lines. Both files
// are opened again by Reopen() (SIGUSR1, after logrotate).
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "server/exchange.h"
#include "server/log_file.h"

namespace mb::server {

class RequestLog {
 public:
  static constexpr std::size_t kMaxTargetBytes = 1024;
  static constexpr int kRefusalsPerSecond = 10;

  // Empty paths: warnings to stderr, no access log. Throws
  // std::runtime_error if a file cannot be opened.
  RequestLog(const std::string& warnings_path, const std::string& access_path);
  // Says how many refusals went untold since the last one logged.
  ~RequestLog();
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;

  // A finding that concerns no request (release snapshots, start-up).
  void Warning(std::string_view text);
  // A request is done: its access line, and its refusal if it was refused.
  // sent: the answer went out whole.
  void Completed(const Exchange& exchange, bool sent);
  bool Reopen();
  bool WarningsToStderr() const { return warnings_.ToStderr(); }

 private:
  void Refused(const Exchange& exchange);

  LogFile warnings_;
  std::optional<LogFile> access_;
  std::mutex refusals_mutex_;
  std::int64_t refusal_second_ = 0;
  int refusals_this_second_ = 0;
  int refusals_untold_ = 0;
};

}  // namespace mb::server
