// The static export and the release's operational state, with a real
// nginx: the export writes the pause answer with the rollout shares as
// mailbeacon-server gives it; with --origin, the agents' reports reach the
// origin's metrics through nginx, and the pause answer comes from the
// origin (a rollout change or a halt without a new export), the last one
// cached or the export's own file while the origin is down.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "helpers/http_probe.h"
#include "helpers/temp_dir.h"
#include "server/rollout/rollout_command.h"
#include "server/server.h"
#include "server/static_export.h"

namespace mb::server {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

const char kReport[] =
    "/mbh/download/"
    "report.aspx?component=express&from=1.0.5&to=1.0.6&result=failed&reason=io&slot=4";

class ExportWithShares : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::NginxProgram().empty()) GTEST_SKIP() << "nginx is not installed";
    WriteFile(root() / "pause.txt", "N\r\nREPORTS=Y\r\n");
    WriteFile(root() / "ORG/express/release.ini", "[RELEASE]\nLAST_VERSION=1.0.6\n");
    WriteFile(root() / "ORG/express/plugin.dll", "plugin bytes");
  }
  fs::path root() const { return temp_ / "release"; }
  void SetShare(const std::string& share) {
    std::ostringstream out, err;
    ASSERT_EQ(
        RunRollout({"--root", root().string(), "--component", "ORG/express", "--share", share}, out,
                   err),
        0)
        << err.str();
  }
  // Exports to OUT under temp, for nginx on port; the export's output.
  std::string Export(const std::string& out, int port, const std::string& origin = "") {
    std::vector<std::string> args = {"--root",    root().string(),
                                     "--out",     (temp_ / out).string(),
                                     "--vdir",    "/mbh",
                                     "--listen",  "127.0.0.1:" + std::to_string(port),
                                     "--max-age", "1"};
    if (!origin.empty()) args.insert(args.end(), {"--origin", origin});
    std::ostringstream o, e;
    EXPECT_EQ(RunExport(args, o, e), 0) << e.str();
    test::OpenForNginx(temp_.path());
    return o.str() + e.str();
  }
  void StartOrigin() {
    ServerOptions options;
    options.root = root().string();
    options.vdir = "/mbh";
    options.log_file = (temp_ / "origin.log").string();
    options.metrics_listen = "127.0.0.1:0";
    options.cache.text_max_age = 1;
    origin_ = std::make_unique<Server>(options);
    origin_->Start();
  }
  // The pause answer through nginx, once it holds `text` (within limit).
  std::string PauseUntil(int port, const std::string& text, std::chrono::seconds limit) {
    const auto start = std::chrono::steady_clock::now();
    std::string body;
    while (std::chrono::steady_clock::now() - start < limit) {
      body = test::RawRequest(port, "/mbh/download/pause.aspx").body;
      if (body.find(text) != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return body;
  }

  test::TempDir temp_;
  std::unique_ptr<Server> origin_;
};

TEST_F(ExportWithShares, WithoutAnOriginThePauseFileCarriesTheSharesAndReportsFindNothing) {
  SetShare("30");
  const int port = test::FreePort();
  Export("site", port);
  EXPECT_EQ(ReadFile(temp_ / "site/current/pause.txt"),
            "N\r\nREPORTS=Y\r\nROLLOUT:ORG/express=30 1.0.6\r\n");
  test::NginxProcess nginx(temp_ / "site", port);
  ASSERT_TRUE(nginx.Running()) << nginx.ErrorLog();
  EXPECT_EQ(test::RawRequest(port, "/mbh/download/pause.aspx").body,
            "N\r\nREPORTS=Y\r\nROLLOUT:ORG/express=30 1.0.6\r\n");
  EXPECT_EQ(test::RawRequest(port, kReport).status, 404);
  // A change of the share is served once the release is exported again.
  SetShare("60");
  Export("site", port);
  EXPECT_NE(PauseUntil(port, "=60 ", std::chrono::seconds(5)).find("ROLLOUT:ORG/express=60 1.0.6"),
            std::string::npos);
}

TEST_F(ExportWithShares, WithAnOriginReportsAreCountedAndSharesServedWithoutANewExport) {
  StartOrigin();
  const std::string origin = "127.0.0.1:" + std::to_string(origin_->Port());
  const int port = test::FreePort();
  Export("site", port, origin);
  test::NginxProcess nginx(temp_ / "site", port);
  ASSERT_TRUE(nginx.Running()) << nginx.ErrorLog();

  const test::RawAnswer report = test::RawRequest(port, kReport);
  EXPECT_EQ(report.status, 204);
  EXPECT_EQ(report.headers.count("cache-control") ? report.headers.at("cache-control") : "",
            "no-store");
  test::RawRequest(port, kReport);
  const std::string counted =
      "mailbeacon_reports_total{component=\"express\",release=\"1.0.6\",result=\"failed\","
      "reason=\"io\"} 2";
  std::string metrics;
  for (int i = 0; i < 100 && metrics.find(counted) == std::string::npos; ++i) {
    metrics = test::RawRequest(origin_->MetricsPort(), "/metrics").body;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_NE(metrics.find(counted), std::string::npos) << metrics;

  EXPECT_EQ(test::RawRequest(port, "/mbh/download/pause.aspx").body, "N\r\nREPORTS=Y\r\n");
  SetShare("5");  // no new export
  EXPECT_EQ(PauseUntil(port, "ROLLOUT:", std::chrono::seconds(6)),
            "N\r\nREPORTS=Y\r\nROLLOUT:ORG/express=5 1.0.6\r\n");
  // The origin goes: nginx keeps the answer it has.
  origin_->Stop();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // past the max-age
  EXPECT_EQ(test::RawRequest(port, "/mbh/download/pause.aspx").body,
            "N\r\nREPORTS=Y\r\nROLLOUT:ORG/express=5 1.0.6\r\n");
  EXPECT_EQ(test::RawRequest(port, "/mbh/download/express_exe.aspx?version=new").status, 200);
  // An nginx that never reached the origin answers with the export's file.
  SetShare("7");
  const int other = test::FreePort();
  Export("other-site", other, origin);
  test::NginxProcess fresh(temp_ / "other-site", other);
  ASSERT_TRUE(fresh.Running()) << fresh.ErrorLog();
  const test::RawAnswer pause = test::RawRequest(other, "/mbh/download/pause.aspx");
  EXPECT_EQ(pause.status, 200);
  EXPECT_EQ(pause.body, "N\r\nREPORTS=Y\r\nROLLOUT:ORG/express=7 1.0.6\r\n");
  EXPECT_EQ(pause.headers.at("content-type"), "text/plain");
}

TEST(ExportOrigin, RefusesAnOriginNginxCouldMisread) {
  test::TempDir temp;
  WriteFile(temp / "release/ORG/express/release.ini", "[RELEASE]\nLAST_VERSION=1\n");
  for (const char* origin : {"127.0.0.1", "host:80; evil", "[::1]", "a b:80", "x:99999"}) {
    std::ostringstream out, err;
    EXPECT_EQ(RunExport({"--root", (temp / "release").string(), "--out", (temp / "out").string(),
                         "--origin", origin},
                        out, err),
              2)
        << origin;
    EXPECT_NE(err.str().find("--origin takes"), std::string::npos) << err.str();
  }
}

}  // namespace
}  // namespace mb::server
