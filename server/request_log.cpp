#include "server/request_log.h"

#include <ctime>
#include <iostream>
#include <stdexcept>

namespace mb::server {
namespace {

std::string Now() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace

RequestLog::RequestLog(const std::string& path) : to_file_(!path.empty()) {
  if (!to_file_) return;
  file_.open(path, std::ios::app);
  if (!file_) throw std::runtime_error("cannot open the log file " + path);
}

void RequestLog::Request(const std::string& method, const std::string& target, int status) {
  Line(Now() + " " + method + " " + target + " " + std::to_string(status));
}

void RequestLog::Note(const std::string& target, const std::string& note) {
  Line(Now() + "   " + target + ": " + note);
}

void RequestLog::Line(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::ostream& out = to_file_ ? static_cast<std::ostream&>(file_) : std::cerr;
  out << text << '\n';
  out.flush();
}

}  // namespace mb::server
