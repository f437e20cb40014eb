// A tiny HTTP/1.1 server on 127.0.0.1 for the Windows tests: each path has
// a canned raw response (status line, headers, body), sent as is and the
// connection closed; unknown paths get 404. It counts the requests per path.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace mb::test {

// A complete response with Content-Length and "Connection: close".
std::string HttpResponse(int status, const std::string& body,
                         const std::string& extra_headers = "");

class LoopbackHttp {
 public:
  LoopbackHttp();
  ~LoopbackHttp();
  LoopbackHttp(const LoopbackHttp&) = delete;
  LoopbackHttp& operator=(const LoopbackHttp&) = delete;

  void Set(const std::string& path, const std::string& raw_response);
  std::string Url(const std::string& path) const;
  int Port() const { return port_; }
  int Requests(const std::string& path) const;

 private:
  void Serve();
  void Answer(unsigned long long client);

  unsigned long long listener_;
  int port_ = 0;
  mutable std::mutex mu_;
  std::map<std::string, std::string> routes_;
  std::map<std::string, int> hits_;
  std::thread thread_;
};

}  // namespace mb::test
