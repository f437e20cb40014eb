// What a vendor watches: the text exposition as a pure function of a
// sample, the counting where requests complete, and GET /metrics on an
// address of its own while agents' requests are served on theirs.
#include "server/metrics.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>


#include "helpers/http_probe.h"
#include "helpers/temp_dir.h"
#include "server/listen_address.h"
#include "server/program_name.h"
#include "server/server.h"

namespace mb::server {
namespace {

using test::WriteFile;

// An open connection that sends nothing, closed when it goes.
class HeldConnection {
 public:
  explicit HeldConnection(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<std::uint16_t>(port));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
  }
  ~HeldConnection() { close(fd_); }
  HeldConnection(const HeldConnection&) = delete;
  HeldConnection& operator=(const HeldConnection&) = delete;
  bool connected() const { return connected_; }

 private:
  int fd_;
  bool connected_ = false;
};

bool Has(const std::string& text, const std::string& line) { return test::HasLine(text, line); }

TEST(MetricsText, EveryFamilyHasHelpAndTypeAndLabelsAreEscaped) {
  MetricsSample m;
  m.requests[{"pause", "", "200"}] = 7;
  m.requests[{"other", "", "-"}] = 1;
  m.downloads[{"ORG", "express", "a\"b\\c\nd 메일.dll"}] = 2;
  m.sent_bytes = 1234;
  m.open_connections = 3;
  m.snapshots = 2;
  m.snapshot_age_seconds = 1.5;
  m.releases.push_back({"ORG", "outlook", "2003", "3.0", 25, true});
  m.releases.push_back({"MIRROR", "agent", "", "", std::nullopt, false});
  const std::string text = MetricsText(m);
  EXPECT_TRUE(
      Has(text, "mailbeacon_requests_total{endpoint=\"pause\",folder=\"\",status=\"200\"} 7"))
      << text;
  EXPECT_TRUE(
      Has(text, "mailbeacon_requests_total{endpoint=\"other\",folder=\"\",status=\"-\"} 1"));
  EXPECT_TRUE(
      Has(text,
          "mailbeacon_downloads_total{folder=\"ORG\",component=\"express\",file=\"a\\\"b\\\\c"
          "\\nd 메일.dll\"} 2"))
      << text;
  EXPECT_TRUE(Has(text, "mailbeacon_sent_bytes_total 1234"));
  EXPECT_TRUE(Has(text, "mailbeacon_open_connections 3"));
  EXPECT_TRUE(Has(text, "mailbeacon_snapshot_age_seconds 1.500"));
  EXPECT_TRUE(Has(text,
                  "mailbeacon_release_info{folder=\"ORG\",component=\"outlook\",label=\"2003\","
                  "last_version=\"3.0\",rollout=\"25\"} 1"));
  EXPECT_TRUE(Has(text,
                  "mailbeacon_release_info{folder=\"MIRROR\",component=\"agent\",label=\"\","
                  "last_version=\"\",rollout=\"100\"} 0"));
  for (const char* family :
       {"mailbeacon_requests_total counter", "mailbeacon_sent_bytes_total counter",
        "mailbeacon_not_modified_total counter", "mailbeacon_downloads_total counter",
        "mailbeacon_open_connections gauge", "mailbeacon_snapshots_total counter",
        "mailbeacon_snapshot_age_seconds gauge", "mailbeacon_snapshot_warnings gauge",
        "mailbeacon_release_info gauge"}) {
    EXPECT_TRUE(Has(text, std::string("# TYPE ") + family)) << family;
  }
  EXPECT_EQ(text.back(), '\n');
}

TEST(MetricsCount, WhatEachCompletedRequestAdds) {
  Metrics metrics;
  auto done = [&](const char* method, int status, std::uint64_t bytes, Route route, bool sent) {
    Exchange e;
    e.method = method;
    e.status = status;
    e.bytes = bytes;
    e.route = std::move(route);
    metrics.Completed(e, sent);
  };
  const Route file{"express_exe", "ORG", "express", "plugin.dll"};
  done("GET", 200, 100, file, true);                          // a download
  done("GET", 206, 40, file, true);                           // the rest of one
  done("GET", 200, 100, file, false);                         // cut off: no download
  done("HEAD", 200, 0, file, true);                           // no body, no download
  done("GET", 304, 0, {"express_exe", "ORG", "", ""}, true);  // a cache revalidating
  done("GET", 404, 9, {}, true);                              // no endpoint
  done("GET", 0, 0, {}, false);                               // refused by the HTTP layer
  metrics.ConnectionOpened();
  metrics.ConnectionOpened();
  metrics.ConnectionClosed();
  ReleaseSnapshot empty;
  const MetricsSample m = metrics.Sample(empty, empty.BuiltAt());
  EXPECT_EQ(m.downloads.at({"ORG", "express", "plugin.dll"}), 2u);
  EXPECT_EQ(m.downloads.size(), 1u);
  EXPECT_EQ(m.requests.at({"express_exe", "ORG", "200"}), 3u);
  EXPECT_EQ(m.requests.at({"express_exe", "ORG", "206"}), 1u);
  EXPECT_EQ(m.requests.at({"express_exe", "ORG", "304"}), 1u);
  EXPECT_EQ(m.requests.at({"other", "", "404"}), 1u);
  EXPECT_EQ(m.requests.at({"other", "", "-"}), 1u);
  EXPECT_EQ(m.sent_bytes, 100u + 40u + 9u);
  EXPECT_EQ(m.not_modified, 1u);
  EXPECT_EQ(m.open_connections, 1);
}

TEST(ListenAddress, HostAndPortOrBracketedIpv6) {
  EXPECT_EQ(SplitListenAddress("127.0.0.1:9100"), std::make_pair(std::string("127.0.0.1"), 9100));
  EXPECT_EQ(SplitListenAddress("[::1]:0"), std::make_pair(std::string("::1"), 0));
  for (const char* bad : {"127.0.0.1", ":9100", "::1:9100", "[::1]", "host:65536", "host:x",
                          "host:", "[]:1", "host:-1"})
    EXPECT_EQ(SplitListenAddress(bad), std::nullopt) << bad;
}

class MetricsServer : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(temp_ / "release/pause.txt", "N\r\n");
    WriteFile(temp_ / "release/ORG/express/release.ini",
              "[RELEASE]\nLAST_VERSION=1.1\nROLLOUT=30\n");
    WriteFile(temp_ / "release/ORG/express/plugin.dll", "plugin bytes");
    WriteFile(temp_ / "release/ORG/agent/release.ini", "[RELEASE]\n");  // refused: no version
    ServerOptions options;
    options.root = (temp_ / "release").string();
    options.vdir = "/mbh";
    options.log_file = (temp_ / "warnings.log").string();
    options.metrics_listen = "127.0.0.1:0";
    server_ = std::make_unique<Server>(options);
    server_->Start();
  }
  std::string Scrape() { return test::RawRequest(server_->MetricsPort(), "/metrics").body; }
  std::string ScrapeUntil(const std::string& line) {
    return test::ScrapeUntil(server_->MetricsPort(), line);
  }
  test::TempDir temp_;
  std::unique_ptr<Server> server_;
};

TEST_F(MetricsServer, AgentsRequestsAreCountedAndMetricsAnswerOnlyOnTheirOwnAddress) {
  const std::string plugin = "/mbh/download/express_exe.aspx?program=" +
                             *EncodeProgramName("plugin.dll", AnsiCodePage(949)) + "&Folder=ORG";
  EXPECT_EQ(test::RawRequest(server_->Port(), "/mbh/download/pause.aspx").status, 200);
  EXPECT_EQ(test::RawRequest(server_->Port(), plugin).body, "plugin bytes");
  EXPECT_EQ(
      test::RawRequest(server_->Port(), "/mbh/download/express_exe.aspx?version=new&Folder=MIRROR")
          .status,
      404);
  EXPECT_EQ(test::RawRequest(server_->Port(), "/metrics").status, 404);  // the agents' address

  const std::string text = ScrapeUntil(
      "mailbeacon_downloads_total{folder=\"ORG\",component=\"express\",file=\"plugin.dll\"} 1");
  EXPECT_TRUE(
      Has(text, "mailbeacon_requests_total{endpoint=\"pause\",folder=\"\",status=\"200\"} 1"))
      << text;
  EXPECT_TRUE(Has(
      text, "mailbeacon_requests_total{endpoint=\"express_exe\",folder=\"ORG\",status=\"200\"} 1"));
  EXPECT_TRUE(Has(
      text,
      "mailbeacon_requests_total{endpoint=\"express_exe\",folder=\"MIRROR\",status=\"404\"} 1"));
  EXPECT_TRUE(
      Has(text, "mailbeacon_requests_total{endpoint=\"other\",folder=\"\",status=\"404\"} 1"));
  EXPECT_TRUE(Has(text,
                  "mailbeacon_release_info{folder=\"ORG\",component=\"express\",label=\"\","
                  "last_version=\"1.1\",rollout=\"30\"} 1"));
  EXPECT_TRUE(Has(text,
                  "mailbeacon_release_info{folder=\"ORG\",component=\"agent\",label=\"\","
                  "last_version=\"\",rollout=\"100\"} 0"));
  EXPECT_TRUE(Has(text, "mailbeacon_snapshots_total 1"));
  EXPECT_FALSE(Has(text, "mailbeacon_snapshot_warnings 0"));  // the refused agent

  const test::RawAnswer answer = test::RawRequest(server_->MetricsPort(), "/metrics");
  EXPECT_EQ(answer.headers.at("content-type"), "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_EQ(test::RawRequest(server_->MetricsPort(), "/metrics", "", "POST").status, 405);
  EXPECT_EQ(test::RawRequest(server_->MetricsPort(), "/mbh/download/pause.aspx").status, 404);
  server_->Reload();
  EXPECT_TRUE(Has(Scrape(), "mailbeacon_snapshots_total 2"));
}

TEST_F(MetricsServer, OpenConnectionsAreCounted) {
  const std::string idle = "mailbeacon_open_connections 0";
  EXPECT_TRUE(Has(ScrapeUntil(idle), idle));
  {
    HeldConnection held(server_->Port());
    ASSERT_TRUE(held.connected());
    const std::string one = "mailbeacon_open_connections 1";
    EXPECT_TRUE(Has(ScrapeUntil(one), one));
  }
  EXPECT_TRUE(Has(ScrapeUntil(idle), idle));
}

TEST(MetricsServerStart, AnAddressThatCannotBeListenedOnStopsTheStart) {
  test::TempDir temp;
  ServerOptions options;
  options.root = temp.str();
  options.log_file = (temp / "warnings.log").string();
  options.metrics_listen = "192.0.2.1:9100";  // not this machine's
  Server server(options);
  EXPECT_THROW(server.Start(), std::runtime_error);
}

}  // namespace
}  // namespace mb::server
