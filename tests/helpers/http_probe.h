// Test helpers for the serving tests: a raw HTTP/1.1 exchange on a fresh
// loopback connection (the target goes out exactly as given, nothing
// escaped or normalised), and nginx started on a free loopback port with a
// configuration of the test's, stopped when the test ends.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>

namespace mb::test {

struct RawAnswer {
  int status = 0;                              // 0: no answer
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
};

// Sends "METHOD target HTTP/1.1" with Host and Connection: close plus extra
// header lines ("Name: value\r\n" each) and reads the answer to its end.
RawAnswer RawRequest(int port, const std::string& target, const std::string& extra = "",
                     const std::string& method = "GET");
// Sends bytes as they are and returns everything that comes back until the
// server closes (or timeout_ms passes).
std::string RawExchange(int port, const std::string& bytes, int timeout_ms = 5000);
RawAnswer ParseAnswer(const std::string& bytes);

// True when the metrics text holds line as one whole line.
bool HasLine(const std::string& text, const std::string& line);
// The metrics port's text, asked again until it holds line (requests are
// counted once their answer went out, a moment after the client has it);
// the last text after 5 s.
std::string ScrapeUntil(int metrics_port, const std::string& line);

// A free TCP port on 127.0.0.1 (bound and released).
int FreePort();
// True once something accepts on 127.0.0.1:port, within timeout_ms.
bool WaitForPort(int port, int timeout_ms);

// The nginx program, or "" when it is not installed.
std::string NginxProgram();

// nginx -p prefix -c nginx.conf, in the foreground as a child; killed and
// reaped by the destructor.
class NginxProcess {
 public:
  NginxProcess(const std::filesystem::path& prefix, int port);
  ~NginxProcess();
  NginxProcess(const NginxProcess&) = delete;
  NginxProcess& operator=(const NginxProcess&) = delete;
  bool Running() const { return ready_; }
  std::string ErrorLog() const;

 private:
  std::filesystem::path prefix_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

// Lets nginx's workers (user nobody when run as root) read the folder and
// everything on the way to it.
void OpenForNginx(const std::filesystem::path& dir);

}  // namespace mb::test
