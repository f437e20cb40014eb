// The vendor's view on an address of its own (--metrics-listen): GET or
// HEAD /metrics answers the text a callback makes, in the Prometheus text
// format; any other path answers 404, another method 405. One thread, a few
// connections: it is for a monitoring system, not for the agents, and the
// agents' address never answers it.
#pragma once

#include <functional>
#include <string>
#include <utility>

struct MHD_Daemon;

namespace mb::server {

class MetricsListener {
 public:
  using Text = std::function<std::string()>;

  explicit MetricsListener(Text text) : text_(std::move(text)) {}
  ~MetricsListener() { Stop(); }
  MetricsListener(const MetricsListener&) = delete;
  MetricsListener& operator=(const MetricsListener&) = delete;

  // address: "HOST:PORT" (listen_address.h). Throws std::runtime_error
  // when it is malformed or cannot be listened on.
  void Start(const std::string& address);
  int Port() const { return port_; }  // the chosen one for port 0
  void Stop();

 private:
  Text text_;
  MHD_Daemon* daemon_ = nullptr;
  int port_ = 0;
};

}  // namespace mb::server
