// A tiny HTTP/1.1 server on 127.0.0.1 for the Windows tests: each path has
// a canned raw response (status line, headers, body), sent as is; unknown
// paths get 404. A response with "Connection: close" closes the connection,
// any other keeps it for the client's next request. A path can also be held
// (the request is read and never answered) or dripped (headers, then one
// byte of the body at a time), or streamed without end. It counts the requests per path and the
// connections it accepted, each served on a thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mb::test {

// A complete response with Content-Length and "Connection: close".
std::string HttpResponse(int status, const std::string& body,
                         const std::string& extra_headers = "");
// The same without "Connection: close": the connection stays open.
std::string KeptResponse(int status, const std::string& body);

class LoopbackHttp {
 public:
  LoopbackHttp();
  ~LoopbackHttp();
  LoopbackHttp(const LoopbackHttp&) = delete;
  LoopbackHttp& operator=(const LoopbackHttp&) = delete;

  void Set(const std::string& path, const std::string& raw_response);
  // Reads requests for `path` and never answers them.
  void Hold(const std::string& path);
  // Answers `path` with `body`, one byte every `byte_ms` milliseconds.
  void Drip(const std::string& path, const std::string& body, int byte_ms);
  // Answers `path` with a chunked body of filler that never ends, as fast
  // as the client takes it; kept alive. Counts the bytes it got sent.
  void Endless(const std::string& path);
  std::int64_t EndlessBytesSent() const { return endless_sent_; }
  // Closes the kept connections that wait for a next request, as a server
  // does when they have been idle too long, and waits until none is open.
  void DropIdleConnections();

  std::string Url(const std::string& path) const;
  int Port() const { return port_; }
  int Requests(const std::string& path) const;
  // The last request's head (request line and headers) for path.
  std::string LastHead(const std::string& path) const;
  int Connections() const { return connections_; }

 private:
  struct Route {
    enum Kind { kCanned, kHold, kDrip, kEndless } kind = kCanned;
    std::string response;  // kCanned: all of it; kDrip: the body
    int byte_ms = 0;
  };
  void Serve();
  void ServeConnection(unsigned long long client);
  bool Answer(unsigned long long client, const std::string& path, const std::string& head);
  bool Stopping() const { return stop_; }

  unsigned long long listener_;
  int port_ = 0;
  mutable std::mutex mu_;
  std::map<std::string, Route> routes_;
  std::map<std::string, int> hits_;
  std::map<std::string, std::string> last_heads_;
  std::atomic<int> connections_{0};
  std::atomic<std::int64_t> endless_sent_{0};
  std::atomic<int> open_{0};
  std::atomic<int> idle_drops_{0};
  std::atomic<bool> stop_{false};
  std::vector<std::thread> clients_;  // guarded by mu_
  std::thread thread_;
};

}  // namespace mb::test
