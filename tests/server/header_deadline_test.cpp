// Clients that trickle a request's headers, a line now and then, as the
// attack they are: on the agents' port they filled every connection past the
// idle time-out; on the metrics port sixteen of them kept every scrape out.
// Now they are cut when the headers do not arrive in time, and the metrics
// port takes only a few connections from one address.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "helpers/http_probe.h"
#include "helpers/temp_dir.h"
#include "server/metrics_listener.h"
#include "server/server.h"

namespace mb::server {
namespace {

using Clock = std::chrono::steady_clock;

// A connection from `from` (127.0.0.x) that sends a request line and then a
// header line every 300 ms, never the end of the headers; it notes when the
// server ends it.
class Trickler {
 public:
  Trickler(int port, const char* from, const std::string& request_line) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(from == std::string("127.0.0.2") ? 0x7f000002 : 0x7f000001);
    bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<std::uint16_t>(port));
    server.sin_addr.s_addr = htonl(0x7f000001);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
    thread_ = std::thread([this, request_line] { Trickle(request_line); });
  }
  ~Trickler() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  Trickler(const Trickler&) = delete;
  Trickler& operator=(const Trickler&) = delete;
  bool Ended() const { return ended_; }

 private:
  void Trickle(const std::string& request_line) {
    std::string next = request_line;
    while (!stop_ && connected_ && !ended_) {
      if (send(fd_, next.data(), next.size(), MSG_NOSIGNAL) < 0) ended_ = true;
      next = "X-Slow: 1\r\n";
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 300) > 0) {
        char byte = 0;
        if (recv(fd_, &byte, 1, 0) <= 0) ended_ = true;
      }
    }
  }

  int fd_ = -1;
  bool connected_ = false;
  std::atomic<bool> stop_{false}, ended_{false};
  std::thread thread_;
};

// GET /metrics from `from` (127.0.0.x): true for a 200 within two seconds.
bool ScrapeFrom(int port, std::uint32_t from) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(from);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<std::uint16_t>(port));
  server.sin_addr.s_addr = htonl(0x7f000001);
  std::string answer;
  const std::string request = "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
      connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
    char buffer[4096];
    pollfd p{fd, POLLIN, 0};
    for (ssize_t n = 1; n > 0 && poll(&p, 1, 2000) > 0;) {
      n = recv(fd, buffer, sizeof buffer, 0);
      if (n > 0) answer.append(buffer, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  return answer.rfind("HTTP/1.1 200", 0) == 0;
}

// Asks until an answer comes; how long it took, or nothing within `limit`.
template <typename Ask>
std::optional<std::chrono::milliseconds> Answered(Ask ask, std::chrono::seconds limit) {
  const Clock::time_point start = Clock::now();
  while (Clock::now() - start < limit) {
    if (ask()) {
      return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return std::nullopt;
}

// Whether every trickler was cut within a few seconds.
bool AllEnded(const std::vector<std::unique_ptr<Trickler>>& slow) {
  return Answered(
             [&] {
               for (const auto& t : slow)
                 if (!t->Ended()) return false;
               return true;
             },
             std::chrono::seconds(3))
      .has_value();
}

TEST(HeaderDeadline, TricklersNoLongerHoldTheAgentsPort) {
  test::TempDir temp;
  test::WriteFile(temp / "release/pause.txt", "N\r\n");
  ServerOptions options;
  options.root = (temp / "release").string();
  options.log_file = (temp / "warnings.log").string();
  options.max_connections = 4;
  options.idle_timeout_s = 15;
  options.header_timeout_s = 1;
  Server server(options);
  server.Start();
  std::vector<std::unique_ptr<Trickler>> slow;
  for (int i = 0; i < 4; ++i)
    slow.push_back(std::make_unique<Trickler>(server.Port(), "127.0.0.1",
                                              "GET /mailbeaconhome/download/pause.aspx HTTP/1.1\r\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto answered = Answered(
      [&] {
        return test::RawRequest(server.Port(), "/mailbeaconhome/download/pause.aspx").status ==
               200;
      },
      std::chrono::seconds(6));
  ASSERT_TRUE(answered.has_value()) << "every connection held past the idle time-out";
  EXPECT_TRUE(AllEnded(slow));
}

TEST(HeaderDeadline, TheMetricsPortKeepsScrapesGoingAgainstTricklers) {
  MetricsListener listener([] { return std::string("mailbeacon_up 1\n"); });
  listener.Start("127.0.0.1:0");
  // As many tricklers as the port takes connections, all from one address:
  // only a few get in, so a scrape from another address gets through.
  std::vector<std::unique_ptr<Trickler>> slow;
  for (unsigned i = 0; i < MetricsListener::kConnections; ++i)
    slow.push_back(
        std::make_unique<Trickler>(listener.Port(), "127.0.0.1", "GET /metrics HTTP/1.1\r\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int admitted = 0;
  for (const auto& t : slow) admitted += !t->Ended();
  EXPECT_EQ(admitted, static_cast<int>(MetricsListener::kConnectionsPerAddress));
  EXPECT_TRUE(ScrapeFrom(listener.Port(), 0x7f000002));
}

TEST(HeaderDeadline, TheMetricsPortCutsTricklersInTime) {
  MetricsListener listener([] { return std::string("mailbeacon_up 1\n"); },
                           std::chrono::seconds(1));
  listener.Start("127.0.0.1:0");
  Trickler slow(listener.Port(), "127.0.0.1", "GET /metrics HTTP/1.1\r\n");
  EXPECT_TRUE(Answered([&] { return slow.Ended(); }, std::chrono::seconds(4)).has_value());
  EXPECT_TRUE(ScrapeFrom(listener.Port(), 0x7f000001));
}

}  // namespace
}  // namespace mb::server
