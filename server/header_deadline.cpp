#include "server/header_deadline.h"

#include <microhttpd.h>
#include <sys/socket.h>

#include <algorithm>

namespace mb::server {
namespace {

// How often overdue connections are looked for: a limit is kept to within
// this much.
constexpr std::chrono::milliseconds kTick(250);

}  // namespace

int ConnectionSocket(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  return info != nullptr ? info->connect_fd : -1;
}

void HeaderDeadline::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (watchdog_.joinable()) return;
  stopping_ = false;
  watchdog_ = std::thread([this] { Watch(); });
}

void HeaderDeadline::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (watchdog_.joinable()) watchdog_.join();
}

void HeaderDeadline::Opened(const void* connection, int socket) {
  std::lock_guard<std::mutex> lock(mutex_);
  connections_[connection] = {socket, false, false, Clock::now()};
}

void HeaderDeadline::HeadersIn(const void* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto it = connections_.find(connection); it != connections_.end()) it->second.busy = true;
}

void HeaderDeadline::AnswerDone(const void* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto it = connections_.find(connection); it != connections_.end()) {
    it->second.busy = false;
    it->second.since = Clock::now();
  }
}

void HeaderDeadline::Closed(const void* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  connections_.erase(connection);
}

void HeaderDeadline::Watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, std::min(kTick, limit_));
    const Clock::time_point now = Clock::now();
    for (auto& [connection, c] : connections_) {
      if (c.busy || c.cut || now - c.since < limit_) continue;
      ::shutdown(c.socket, SHUT_RDWR);
      c.cut = true;
    }
  }
}

}  // namespace mb::server
