// The vendor-server stand-in as an object: it serves a release folder over
// HTTP on its own threads (libmicrohttpd: an epoll event loop per processor;
// a thread per connection while it misbehaves on purpose), logs what it
// refuses (and every request, with an access log), and remembers the request targets so that an
// in-process test can check which URLs arrived in which order.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "server/options.h"

namespace mb::server {

class Server {
 public:
  // Throws std::runtime_error for an unknown code page.
  explicit Server(const ServerOptions& options);
  ~Server();  // stops the server
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Reads the release folder, binds and starts serving; connections are
  // accepted as soon as it returns. Throws std::runtime_error when the
  // address cannot be bound.
  void Start();
  // The port listened on (the chosen one for port 0); 0 before Start.
  int Port() const;
  // The port of GET /metrics (--metrics-listen); 0 without metrics.
  int MetricsPort() const;
  // The request targets (path and query as sent), oldest first.
  std::vector<std::string> Requests() const;
  void ClearRequests();
  // Reads the release folder again now, rather than at the next check.
  void Reload();
  // Opens the log files again (after logrotate moved them); false when one
  // cannot be opened (it keeps its old file).
  bool ReopenLogs();
  // What the current snapshot of the release folder found wrong.
  std::vector<std::string> Warnings() const;
  // Stops accepting and waits for the serving threads; safe to call twice.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace mb::server
