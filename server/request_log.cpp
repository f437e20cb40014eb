#include "server/request_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <stdexcept>

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

}  // namespace

RequestLog::RequestLog(const std::string& path) : fd_(2) {
  if (path.empty()) return;
  fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) throw std::runtime_error("cannot open the log file " + path);
}

RequestLog::~RequestLog() {
  if (fd_ != 2) close(fd_);
}

void RequestLog::Request(std::string_view method, std::string_view target,
                         std::string_view status) {
  std::string line;
  line.reserve(40 + target.size());
  line.append(Now()).append(" ").append(method).append(" ").append(target).append(" ");
  line.append(status).append("\n");
  Line(line);
}

void RequestLog::Note(std::string_view target, std::string_view note) {
  std::string line;
  line.append(Now()).append("   ").append(target).append(": ").append(note).append("\n");
  Line(line);
}

void RequestLog::Warning(std::string_view text) {
  std::string line;
  line.append(Now()).append(" warning: ").append(text).append("\n");
  Line(line);
}

void RequestLog::Line(std::string& text) {
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t n = write(fd_, p, left);
    if (n <= 0) return;  // a full disk must not stop the server
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace mb::server
