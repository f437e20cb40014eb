// One connection per run, and across runs: the connections the POSIX
// download backend opens, counted at a loopback relay between it and a
// server that keeps connections open, as nginx does.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "helpers/agent_harness.h"
#include "helpers/counting_relay.h"
#include "helpers/temp_dir.h"
#include "platform/posix/posix_network.h"

namespace mb::test {
namespace {

namespace fs = std::filesystem;

// Answers every path with a text of its own; keeps each connection open for
// as many requests as the client sends.
class KeepAliveServer {
 public:
  KeepAliveServer() {
    server_.set_keep_alive_max_count(1000);
    server_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
      ++requests_;
      res.set_content(Answer(req.path), "text/plain");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~KeepAliveServer() {
    server_.stop();
    thread_.join();
  }
  int port() const { return port_; }
  int requests() const { return requests_; }
  static std::string Answer(const std::string& path) {
    if (path == "/v/download/pause.aspx") return "N\r\n";
    // Both manifests publish 1.1, the release the install record holds.
    if (path.find("_exe.aspx") != std::string::npos) {
      return "[DOWNLOAD]\r\nTOTAL_FILES=0\r\nLAST_VERSION=1.1\r\n";
    }
    if (path == "/big") return std::string(1 << 20, 'b');
    return "answer of " + path;
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::atomic<int> requests_{0};
  std::thread thread_;
};

// Declared before the client, so the client closes its connections first.
struct ConnectionReuse : ::testing::Test {
  KeepAliveServer server;
  CountingRelay relay{server.port()};
};

TEST_F(ConnectionReuse, DownloadsShareOneConnectionWhileTheServerKeepsIt) {
  TempDir dir;
  posix::CurlNetwork net;
  auto fetch = [&](const std::string& path, platform::DownloadOptions o = {}) {
    const std::string dest = (dir.path() / "f.txt").string();
    const long rc = net.Download(relay.Url() + path, dest, o);
    return rc == platform::kDownloadOk ? ReadFile(dest) : "failed " + std::to_string(rc);
  };
  for (int i = 0; i < 9; ++i) {
    const std::string path = "/file" + std::to_string(i % 3);
    EXPECT_EQ(fetch(path), KeepAliveServer::Answer(path));
  }
  EXPECT_EQ(relay.Connections(), 1);

  // The server closed it while idle: the next download reconnects.
  relay.CutAll();
  EXPECT_EQ(fetch("/after-cut"), KeepAliveServer::Answer("/after-cut"));
  EXPECT_EQ(relay.Connections(), 2);

  // A body cut off at the cap leaves its connection closed, never half read
  // for the next request.
  platform::DownloadOptions capped;
  capped.max_bytes = 1000;
  EXPECT_EQ(fetch("/big", capped), "failed " + std::to_string(platform::kDownloadTooLarge));
  EXPECT_EQ(fetch("/next"), KeepAliveServer::Answer("/next"));
  EXPECT_EQ(fetch("/next"), KeepAliveServer::Answer("/next"));
  EXPECT_EQ(relay.Connections(), 3);
}

TEST_F(ConnectionReuse, UpToDateRunsOfTheAgentShareOneConnection) {
  AgentHarness h;
  h.UseServer(relay.Url(), "/v");
  fs::create_directories(h.update);
  WriteFile(
      h.UpdatePath("install_version.ini"),
      "[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.1\r\n[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=1.1\r\n");

  EXPECT_EQ(h.RunAgent(4), -1);  // four runs, each repeated 500 ms later
  EXPECT_EQ(server.requests(), 12);
  EXPECT_EQ(relay.Connections(), 1);

  // A server that closes idle connections costs one new connection, no run.
  relay.CutAll();
  EXPECT_EQ(h.RunAgent(2), -1);
  EXPECT_EQ(server.requests(), 18);
  EXPECT_EQ(relay.Connections(), 2);

  // Every run found everything up to date and was simply repeated.
  EXPECT_TRUE(h.windows.boxes.empty());
  EXPECT_EQ(h.windows.armings, (std::vector<int>{10, 500, 500, 500, 500, 10, 500, 500}));
  EXPECT_TRUE(fs::exists(h.UpdatePath("express_plugin.ini")));
  EXPECT_FALSE(fs::exists(h.UpdatePath("mailbeacon_download.ini")));
}

}  // namespace
}  // namespace mb::test
