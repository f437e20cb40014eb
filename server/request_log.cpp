#include "server/request_log.h"

#include <ctime>

#include "server/log_text.h"

namespace mb::server {
namespace {

// "2026-12-07 14:05:09", formatted once per second per thread.
std::string_view Now() {
  thread_local std::time_t last = -1;
  thread_local char text[32];
  std::time_t t = std::time(nullptr);
  if (t != last) {
    std::tm local{};
    localtime_r(&t, &local);
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    last = t;
  }
  return text;
}

std::string Field(std::string_view client_bytes, std::size_t max) {
  return client_bytes.empty() ? "-" : LogText(client_bytes, LogEscape::kClientField, max);
}

// "TIME CLIENT METHOD TARGET": the request, every client byte escaped.
std::string RequestPart(const Exchange& e) {
  std::string line(Now());
  line.append(" ").append(Field(e.client, 64)).append(" ").append(Field(e.method, 32));
  line.append(" ").append(Field(e.target, RequestLog::kMaxTargetBytes));
  return line;
}

std::string Untold(int count) {
  return std::string(Now()) + " refused " + std::to_string(count) +
         " more requests in an earlier second, not logged here\n";
}

}  // namespace

RequestLog::RequestLog(const std::string& warnings_path, const std::string& access_path)
    : warnings_(warnings_path) {
  if (!access_path.empty()) access_.emplace(access_path);
}

RequestLog::~RequestLog() {
  if (refusals_untold_ > 0) warnings_.Write(Untold(refusals_untold_));
}

void RequestLog::Warning(std::string_view text) {
  std::string line(Now());
  line.append(" warning: ").append(LogText(text, LogEscape::kVendorText, 4096)).append("\n");
  warnings_.Write(line);
}

void RequestLog::Completed(const Exchange& e, bool sent) {
  if (access_) {
    std::string line = RequestPart(e);
    line.append(" ").append(e.status > 0 ? std::to_string(e.status) : "-");
    line.append(" ").append(sent ? std::to_string(e.bytes) : "-").append("\n");
    access_->Write(line);
  }
  if (!e.refusal.empty()) Refused(e);
}

void RequestLog::Refused(const Exchange& e) {
  std::int64_t second = std::time(nullptr);
  int untold = 0;
  {
    std::lock_guard<std::mutex> lock(refusals_mutex_);
    if (second != refusal_second_) {
      untold = refusals_untold_;
      refusal_second_ = second;
      refusals_this_second_ = refusals_untold_ = 0;
    }
    if (++refusals_this_second_ > kRefusalsPerSecond) {
      ++refusals_untold_;
      return;
    }
  }
  std::string line;
  if (untold > 0)
    line.append(Now())
        .append(" refused ")
        .append(std::to_string(untold))
        .append(" more requests in an earlier second, not logged here\n");
  line.append(RequestPart(e)).append(" refused ").append(std::to_string(e.status)).append(": ");
  line.append(LogText(e.refusal, LogEscape::kVendorText, 256)).append("\n");
  warnings_.Write(line);
}

bool RequestLog::Reopen() {
  bool warnings = warnings_.Reopen();
  return (!access_ || access_->Reopen()) && warnings;
}

}  // namespace mb::server
