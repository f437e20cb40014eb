// The real POSIX agent tells why its server is of no use: one line on
// stderr per run, naming the first URL that failed and the reason, whether
// the server cannot be reached or answers errors; a healthy run says nothing
// of the kind.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/sandbox.h"

namespace mb::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLinePrefix = "Mailbeacon: cannot fetch ";

std::vector<std::string> FailureLines(const std::string& output) {
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(kLinePrefix, 0) == 0) lines.push_back(line);
  }
  return lines;
}

// A loopback port that refuses connections for as long as this lives: bound,
// so no one else takes it, but not listening.
class RefusingPort {
 public:
  RefusingPort() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), len);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~RefusingPort() { close(fd_); }
  int port() const { return port_; }

 private:
  int fd_;
  int port_ = 0;
};

TEST(FailureLine, OneLinePerRunNamingTheUrlAndTheReason) {
  if (!fs::exists(fs::path(MB_BIN_DIR) / "mailbeacon-server")) GTEST_SKIP() << "no server built";
  Sandbox s;
  s.SetPause("N\r\n");
  WriteFile(fs::path(s.release) / "notice.txt", "Release notes\r\n");
  s.Publish("express", "1.1", {{"plugin.dll", "plugin 1.1"}});
  s.Publish("agent", "2.0", {{"agent.cfg", "cfg 2.0"}});

  // Nobody listens: every request of a run fails, one line per run.
  RefusingPort refusing;
  const std::string base = "http://127.0.0.1:" + std::to_string(refusing.port());
  WriteFile(s.AgentEnvironment(1).at("MAILBEACON_REGISTRY"),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\BrightHarbor\\MailbeaconCom]\n"
            "\"URL\"=\"" +
                base + "\"\n\"V_DIR\"=\"/mbh\"\n\"InstallType\"=\"express\"\n");
  ProgramResult r = s.RunAgent(3);
  EXPECT_EQ(r.status, 5) << r.output;
  std::vector<std::string> lines = FailureLines(r.output);
  ASSERT_EQ(lines.size(), 3u) << r.output;
  for (const std::string& line : lines) {
    EXPECT_EQ(line.rfind(std::string(kLinePrefix) + base + "/mbh/download/pause.aspx: ", 0), 0u)
        << line;
    EXPECT_NE(line.find("connect"), std::string::npos) << line;  // libcurl's words
  }
  // Neither the update log nor a message box carries it.
  EXPECT_FALSE(s.Exists("inst/update/update_log.txt"));
  EXPECT_EQ(r.output.find("Mailbeacon: Installation"), std::string::npos) << r.output;

  // Every answer an error.
  s.StartServer({"--misbehave", "error-500"});
  s.WriteRegistry();
  r = s.RunAgent(2);
  EXPECT_EQ(r.status, 5) << r.output;
  lines = FailureLines(r.output);
  ASSERT_EQ(lines.size(), 2u) << r.output;
  for (const std::string& line : lines) {
    EXPECT_NE(line.find("/mbh/download/pause.aspx: the server answered HTTP 500"),
              std::string::npos)
        << line;
  }

  // A healthy server: the update is handed off without such a line.
  s.StartServer();
  s.WriteRegistry();
  r = s.RunAgent(3);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(FailureLines(r.output).empty()) << r.output;
}

}  // namespace
}  // namespace mb::test
