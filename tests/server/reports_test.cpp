// What the server makes of the agents' reports and of the release's
// operational state: reports read into fixed label values (a client
// invents none), the metrics of reports, shares and signatures' expiry as
// text, the counters known in advance at 0, and a running server that
// answers report.aspx 204, counts it, serves a `rollout` change in the
// pause answer within a second, and warns ahead of a signature's expiry.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "helpers/http_probe.h"
#include "helpers/temp_dir.h"
#include "helpers/test_signer.h"
#include "server/metrics.h"
#include "server/observe/report_key.h"
#include "server/observe/signature_expiry.h"
#include "server/release_signing.h"
#include "server/rollout/rollout_command.h"
#include "server/server.h"
#include "trust/timestamp.h"

namespace mb::server {
namespace {

using test::ReadFile;
using test::WriteFile;

bool Has(const std::string& text, const std::string& line) { return test::HasLine(text, line); }

TEST(ReportKey, OnlyFixedWordsAndPublishedReleasesBecomeLabels) {
  const KnownReleases known = {{"express", {"1.0.6", "1.0-\xEB\xA9\x94\xEC\x9D\xBC"}},
                               {"agent", {"2.0"}}};
  struct Case {
    std::string query;
    ReportKey key;
  } cases[] = {
      {"component=express&from=1.0.5&to=1.0.6&result=installed&reason=&slot=3",
       {"express", "1.0.6", "installed", ""}},
      {"component=express&to=1.0.6&result=failed&reason=in-use",
       {"express", "1.0.6", "failed", "in-use"}},
      {"component=agent&from=2.0&to=2.0&result=active&reason=&slot=",
       {"agent", "2.0", "active", ""}},
      {"component=express&to=1.0.6&result=refused&reason=unknown-key",
       {"express", "1.0.6", "refused", "unknown-key"}},
      // A release in UTF-8, percent-encoded as the agent sends it.
      {"component=express&to=1.0-%EB%A9%94%EC%9D%BC&result=installed&reason=",
       {"express", "1.0-\xEB\xA9\x94\xEC\x9D\xBC", "installed", ""}},
      // Keys in any case, the first of a name wins, as nginx reads them.
      {"COMPONENT=express&Component=agent&TO=1.0.6&Result=installed&REASON=",
       {"express", "1.0.6", "installed", ""}},
      // What the server never published, or no word of the sets: other.
      {"component=express&to=9.9&result=installed&reason=", {"express", "other", "installed", ""}},
      {"component=agent&to=1.0.6&result=installed&reason=", {"agent", "other", "installed", ""}},
      {"component=outlook&to=1.0.6&result=failed&reason=io", {"outlook", "other", "failed", "io"}},
      {"component=evil&to=1.0.6&result=hacked&reason=x", {"other", "other", "other", "other"}},
      {"component=express&to=1.0.6&result=installed&reason=io",
       {"express", "1.0.6", "installed", "other"}},
      {"component=express&to=1.0.6&result=failed&reason=", {"express", "1.0.6", "failed", "other"}},
      {"component=express&to=1.0.6&result=failed&reason=rights",
       {"express", "1.0.6", "failed", "other"}},
      {"component=express&to=1.0%ZZ6&result=failed%&reason=io",
       {"express", "other", "other", "other"}},
      {"", {"other", "other", "other", "other"}},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadReport(c.query, known), c.key) << c.query;
  EXPECT_EQ(PercentDecoded("a%2Fb%2f%25"), "a/b/%");
  EXPECT_EQ(PercentDecoded("%"), std::nullopt);
  EXPECT_EQ(PercentDecoded("%4"), std::nullopt);
  EXPECT_EQ(PercentDecoded("%G0"), std::nullopt);
}

TEST(SignatureExpiry, ReadFromTheServedManifestAndWarnedAheadOfTheDay) {
  const std::string manifest =
      "[DOWNLOAD]\r\nLAST_VERSION=1\r\n\r\n[SIGNATURE]\r\nCOMPONENT=express\r\n"
      "SIGNED=2026-12-01T00:00:00Z\r\nEXPIRES=2027-01-01T00:00:00Z\r\nKEY_ID=00\r\nVALUE=x\r\n";
  const std::int64_t expires = *trust::ParseUtcTime("2027-01-01T00:00:00Z");
  EXPECT_EQ(SignatureExpiresAt(manifest), expires);
  EXPECT_EQ(SignatureExpiresAt("[DOWNLOAD]\r\nEXPIRES=2027-01-01T00:00:00Z\r\n"), std::nullopt);
  EXPECT_EQ(SignatureExpiresAt("[DOWNLOAD]\r\n\r\n[SIGNATURE]\r\nCOMPONENT=x\r\nVALUE=y\r\n"),
            std::nullopt);
  const std::int64_t day = 86400;
  const SignatureExpiry e{"ORG/express", expires};
  EXPECT_EQ(ExpiryWarning(e, expires - 15 * day, 14), std::nullopt);
  EXPECT_NE(ExpiryWarning(e, expires - 14 * day, 14).value_or("").find("expires in 14 days"),
            std::string::npos);
  EXPECT_NE(ExpiryWarning(e, expires - day - 1, 14).value_or("").find("expires in 1 day ("),
            std::string::npos);
  EXPECT_NE(ExpiryWarning(e, expires - 5, 14).value_or("").find("in less than a day"),
            std::string::npos);
  EXPECT_EQ(ExpiryWarning(e, expires, 14), std::nullopt);  // expired: the snapshot says so
  EXPECT_EQ(ExpiryWarning(e, expires - 3 * day, 2), std::nullopt);
}

TEST(MetricsText, ReportsSharesAndExpiries) {
  MetricsSample m;
  m.reports[{"express", "1.0.6", "failed", "in-use"}] = 3;
  m.shares.push_back({"ORG/outlook/2003", "3.0", 5, false});
  m.shares.push_back({"ORG/express", "1.0.6", 0, true});
  m.signature_expiries.emplace_back("ORG/express", 86400.5);
  const std::string text = MetricsText(m);
  for (const char* line :
       {"# TYPE mailbeacon_reports_total counter",
        "mailbeacon_reports_total{component=\"express\",release=\"1.0.6\",result=\"failed\","
        "reason=\"in-use\"} 3",
        "# TYPE mailbeacon_rollout_share gauge",
        "mailbeacon_rollout_share{component=\"ORG/outlook/2003\",release=\"3.0\"} 5",
        "mailbeacon_rollout_share{component=\"ORG/express\",release=\"1.0.6\"} 0",
        "mailbeacon_rollout_halted{component=\"ORG/outlook/2003\",release=\"3.0\"} 0",
        "mailbeacon_rollout_halted{component=\"ORG/express\",release=\"1.0.6\"} 1",
        "# TYPE mailbeacon_signature_expiry_seconds gauge",
        "mailbeacon_signature_expiry_seconds{component=\"ORG/express\"} 86400.500"})
    EXPECT_TRUE(Has(text, line)) << line << " in\n" << text;
}

TEST(MetricsCount, EveryCounterKnownInAdvanceStartsAtZero) {
  test::TempDir temp;
  WriteFile(temp / "ORG/express/release.ini", "[RELEASE]\nLAST_VERSION=1.0.6\n");
  WriteFile(temp / "ORG/express/plugin.dll", "plugin");
  WriteFile(temp / "ORG/express/helper.dll", "helper");
  WriteFile(temp / "ORG/agent/release.ini", "[RELEASE]\n");  // refused: nothing known
  WriteFile(temp / "ORG/agent/agent.cfg", "cfg");
  AnsiCodePage cp(949);
  const auto snapshot = ReleaseSnapshot::Build(ReleaseFolder(temp.path()), cp, {});
  Metrics metrics;
  Exchange report;
  report.method = "GET";
  report.status = 204;
  report.route.endpoint = "report";
  report.report = ReportKey{"express", "1.0.6", "failed", "io"};
  metrics.Completed(report, true);
  report.method = "HEAD";  // no report
  metrics.Completed(report, true);
  const MetricsSample m = metrics.Sample(*snapshot, snapshot->BuiltAt());
  EXPECT_EQ(m.downloads.at({"ORG", "express", "plugin.dll"}), 0u);
  EXPECT_EQ(m.downloads.at({"ORG", "express", "helper.dll"}), 0u);
  EXPECT_EQ(m.downloads.size(), 2u);
  EXPECT_EQ(m.reports.at({"express", "1.0.6", "failed", "io"}), 1u);
  std::size_t reasons = 0;
  for (std::string_view result : ReportResults()) {
    for (std::string_view reason : ReportReasons(result)) {
      EXPECT_TRUE(m.reports.count({"express", "1.0.6", std::string(result), std::string(reason)}))
          << result << " " << reason;
      ++reasons;
    }
  }
  EXPECT_EQ(m.reports.size(), reasons);  // nothing for the refused agent
}

class ReportingServer : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(root() / "pause.txt", "N\r\nREPORTS=Y\r\n");
    WriteFile(root() / "ORG/express/release.ini", "[RELEASE]\nLAST_VERSION=1.0.6\nROLLOUT=40\n");
    WriteFile(root() / "ORG/express/plugin.dll", "plugin bytes");
  }
  std::filesystem::path root() const { return temp_ / "release"; }
  void Start() {
    ServerOptions options;
    options.root = root().string();
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
  test::RawAnswer Get(const std::string& target, const std::string& method = "GET") {
    return test::RawRequest(server_->Port(), "/mbh/download/" + target, "", method);
  }

  test::TempDir temp_;
  std::unique_ptr<Server> server_;
};

TEST_F(ReportingServer, ReportsAreAnswered204CountedAndNeverCached) {
  Start();
  // Counters known in advance are there before anything happened.
  const std::string before = Scrape();
  EXPECT_TRUE(Has(before,
                  "mailbeacon_reports_total{component=\"express\",release=\"1.0.6\",result="
                  "\"installed\",reason=\"\"} 0"))
      << before;
  EXPECT_TRUE(Has(before,
                  "mailbeacon_downloads_total{folder=\"ORG\",component=\"express\",file=\"plugin."
                  "dll\"} 0"));
  EXPECT_TRUE(
      Has(before, "mailbeacon_rollout_share{component=\"ORG/express\",release=\"1.0.6\"} 40"));

  const test::RawAnswer answer =
      Get("report.aspx?component=express&from=1.0.5&to=1.0.6&result=installed&reason=&slot=7");
  EXPECT_EQ(answer.status, 204);
  EXPECT_EQ(answer.body, "");
  EXPECT_EQ(answer.headers.at("cache-control"), "no-store");
  EXPECT_EQ(Get("REPORT.ASPX?component=agent&to=x&result=active&reason=").status, 204);
  EXPECT_EQ(Get("report.aspx?component=express&to=1.0.6&result=failed&reason=io", "HEAD").status,
            204);
  EXPECT_EQ(Get("report.aspx?component=express", "POST").status, 405);
  const std::string text =
      ScrapeUntil("mailbeacon_requests_total{endpoint=\"report\",folder=\"\",status=\"405\"} 1");
  EXPECT_TRUE(Has(text,
                  "mailbeacon_reports_total{component=\"express\",release=\"1.0.6\",result="
                  "\"installed\",reason=\"\"} 1"))
      << text;
  EXPECT_TRUE(Has(text,
                  "mailbeacon_reports_total{component=\"agent\",release=\"other\",result="
                  "\"active\",reason=\"\"} 1"));
  EXPECT_TRUE(Has(text,
                  "mailbeacon_reports_total{component=\"express\",release=\"1.0.6\",result="
                  "\"failed\",reason=\"io\"} 0"));  // HEAD is no report
  EXPECT_TRUE(
      Has(text, "mailbeacon_requests_total{endpoint=\"report\",folder=\"\",status=\"204\"} 3"));
}

TEST_F(ReportingServer, ARolloutChangeReachesThePauseAnswerWithoutARestart) {
  Start();
  EXPECT_EQ(Get("pause.aspx").body, "N\r\nREPORTS=Y\r\n");
  std::ostringstream out, err;
  ASSERT_EQ(RunRollout({"--root", root().string(), "--component", "ORG/express", "--share", "5"},
                       out, err),
            0)
      << err.str();
  const auto set = std::chrono::steady_clock::now();
  std::string pause;
  while (std::chrono::steady_clock::now() - set < std::chrono::seconds(10)) {
    pause = Get("pause.aspx").body;
    if (pause != "N\r\nREPORTS=Y\r\n") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(pause, "N\r\nREPORTS=Y\r\nROLLOUT:ORG/express=5 1.0.6\r\n");
  EXPECT_TRUE(
      Has(ScrapeUntil("mailbeacon_rollout_share{component=\"ORG/express\",release=\"1.0.6\"} 5"),
          "mailbeacon_rollout_share{component=\"ORG/express\",release=\"1.0.6\"} 5"));
  // The signed release content was never touched.
  EXPECT_EQ(ReadFile(root() / "ORG/express/release.ini"),
            "[RELEASE]\nLAST_VERSION=1.0.6\nROLLOUT=40\n");
}

TEST_F(ReportingServer, WarnsAheadOfASignaturesExpiry) {
  test::TestSigningKey key;
  key.WritePrivatePem((temp_ / "key.pem").string());
  const std::int64_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  const std::string in_five_days = trust::FormatUtcTime(now + 5 * 86400).substr(0, 10);
  std::ostringstream out, err;
  ASSERT_EQ(RunSign({"--root", root().string(), "--key", (temp_ / "key.pem").string(), "--expires",
                     in_five_days},
                    out, err),
            0)
      << err.str();
  Start();
  const std::string log = ReadFile(temp_ / "warnings.log");
  EXPECT_NE(log.find("ORG/express: the signature expires in 4 days"), std::string::npos) << log;
  const std::string text = Scrape();
  const std::string series = "mailbeacon_signature_expiry_seconds{component=\"ORG/express\"} ";
  const std::size_t at = text.find(series);
  ASSERT_NE(at, std::string::npos) << text;
  const double left = std::stod(text.substr(at + series.size()));
  EXPECT_GT(left, 4 * 86400);
  EXPECT_LE(left, 5 * 86400);
}

}  // namespace
}  // namespace mb::server
