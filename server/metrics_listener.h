// The vendor's view on an address of its own (--metrics-listen): GET or
// HEAD /metrics answers the text a callback makes, in the Prometheus text
// format; any other path answers 404, another method 405. One thread, a few
// connections: it is for a monitoring system, not for the agents, and the
// agents' address never answers it. A few of them per client address, and
// a request's headers within a time limit (server/header_deadline.h), so
// clients that trickle headers cannot keep the scrapes out.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>

#include "server/header_deadline.h"

struct MHD_Daemon;

namespace mb::server {

class MetricsListener {
 public:
  using Text = std::function<std::string()>;

  static constexpr unsigned kConnections = 16;
  static constexpr unsigned kConnectionsPerAddress = 4;
  static constexpr int kHeaderTimeoutSeconds = 10;

  explicit MetricsListener(Text text, std::chrono::milliseconds header_limit =
                                          std::chrono::seconds(kHeaderTimeoutSeconds))
      : text_(std::move(text)), header_deadline_(header_limit) {}
  ~MetricsListener() { Stop(); }
  MetricsListener(const MetricsListener&) = delete;
  MetricsListener& operator=(const MetricsListener&) = delete;

  // address: "HOST:PORT" (listen_address.h). Throws std::runtime_error
  // when it is malformed or cannot be listened on.
  void Start(const std::string& address);
  int Port() const { return port_; }  // the chosen one for port 0
  void Stop();

  // What libmicrohttpd's callbacks are handed.
  struct Callbacks {
    const Text* text;
    HeaderDeadline* header_deadline;
  };

 private:
  Text text_;
  HeaderDeadline header_deadline_;
  Callbacks callbacks_{&text_, &header_deadline_};
  MHD_Daemon* daemon_ = nullptr;
  int port_ = 0;
};

}  // namespace mb::server
