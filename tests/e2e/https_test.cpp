// The real agent over HTTPS: mailbeacon-server behind the nginx TLS front
// of docs/DEPLOY.md (server/deploy/nginx-tls-front.conf), with a test CA
// made for the test. The update works when the agent is told to trust that
// CA, and nothing reaches the server when it is not, when the certificate
// names another host, or when the front redirects to plain HTTP. The static
// export over HTTPS (server/deploy/nginx-tls-export.conf) serves it too.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "e2e/sandbox.h"
#include "helpers/http_probe.h"
#include "server/static_export.h"

namespace mb::test {
namespace {

namespace fs = std::filesystem;

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

class HttpsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (NginxProgram().empty()) GTEST_SKIP() << "nginx is not installed";
    const ProgramResult ca = RunProgram(
        {std::string(MB_SOURCE_DIR) + "/tests/make_test_ca.sh", (tls_.path() / "ca").string()}, "",
        {}, 60);
    ASSERT_EQ(ca.status, 0) << ca.output;
    s.Publish("express", "1.1", {{"plugin.dll", "plugin 1.1"}});
    s.Publish("agent", "2.0", {{"agent.cfg", "cfg 2.0"}});
    s.StartServer();
    OpenForNginx(tls_.path());
  }

  // nginx on a configuration of server/deploy with the certificate of
  // `host`, listening on a free loopback port; edit changes the rest.
  int StartTls(const std::string& file, const std::string& host,
               const std::function<void(std::string&)>& edit) {
    const int port = FreePort();
    const fs::path prefix = tls_.path() / ("tls-" + std::to_string(port));
    std::string conf = ReadFile(fs::path(MB_SOURCE_DIR) / "server/deploy" / file);
    Replace(conf, "listen 192.0.2.10:443 ssl;",
            "listen 127.0.0.1:" + std::to_string(port) + " ssl;");
    Replace(conf, "server_name updates.example.com;", "server_name localhost;");
    const std::string certs = (tls_.path() / "ca").string() + "/";
    Replace(conf, "/etc/ssl/mailbeacon/fullchain.pem", certs + host + ".pem");
    Replace(conf, "/etc/ssl/mailbeacon/privkey.pem", certs + host + ".key");
    edit(conf);
    WriteFile(prefix / "nginx.conf", conf);
    fronts_.push_back(std::make_unique<NginxProcess>(prefix, port));
    EXPECT_TRUE(fronts_.back()->Running()) << fronts_.back()->ErrorLog();
    return port;
  }

  // An nginx TLS front for the sandbox's server, with the certificate of
  // `host`; `location` replaces what the front does with a request.
  int StartFront(const std::string& host, const std::string& location = "") {
    return StartTls("nginx-tls-front.conf", host, [&](std::string& conf) {
      Replace(conf, "server 127.0.0.1:8080;",
              "server 127.0.0.1:" + std::to_string(s.ServerPort()) + ";");
      if (!location.empty()) Replace(conf, "proxy_pass http://mailbeacon_origin;", location);
    });
  }

  // Runs the agent against https://localhost:port, trusting the test CA
  // through `variable` (or only the system's store when empty).
  ProgramResult RunOver(int port, const std::string& variable, int runs) {
    s.UseServerUrl("https://localhost:" + std::to_string(port));
    s.WriteRegistry();
    s.SetAgentVariable("CURL_CA_BUNDLE", "");
    s.SetAgentVariable("SSL_CERT_FILE", "");
    if (!variable.empty()) s.SetAgentVariable(variable, (tls_.path() / "ca/ca.pem").string());
    s.TakeRequests();
    return s.RunAgent(runs);
  }

  // Nothing reached the server and nothing was fetched.
  void ExpectNothingFetched(const ProgramResult& r, const std::string& why) {
    EXPECT_EQ(r.status, 5) << r.output;  // runs went on until the limit
    EXPECT_TRUE(s.TakeRequests().empty());
    EXPECT_FALSE(fs::exists(s.update + "/plugin.dll"));
    EXPECT_NE(r.output.find("Mailbeacon: cannot fetch https://localhost:"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find(why), std::string::npos) << r.output;
  }

  TempDir tls_;
  Sandbox s;
  std::vector<std::unique_ptr<NginxProcess>> fronts_;
};

TEST_F(HttpsEndToEnd, UpdatesOnlyWhenTheCertificateHoldsForTheHostItNames) {
  const int front = StartFront("localhost");
  ExpectNothingFetched(RunOver(front, "", 2), "certificate");

  const int wrong_name = StartFront("otherhost");
  ExpectNothingFetched(RunOver(wrong_name, "CURL_CA_BUNDLE", 2), "localhost");

  const int downgrade =
      StartFront("localhost",
                 "return 302 http://127.0.0.1:" + std::to_string(s.ServerPort()) + "$request_uri;");
  ExpectNothingFetched(RunOver(downgrade, "CURL_CA_BUNDLE", 2),
                       "a redirect from HTTPS down to plain HTTP, refused");

  ProgramResult r = RunOver(front, "SSL_CERT_FILE", 3);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(s.Read("inst/update/plugin.dll"), "plugin 1.1");
  EXPECT_FALSE(s.TakeRequests().empty());
  fs::remove_all(s.update);
  r = RunOver(front, "CURL_CA_BUNDLE", 3);
  EXPECT_EQ(r.status, 0) << r.output;
}

// One nginx answers from the static export over HTTPS: the agent that
// trusts the test CA updates without a request reaching mailbeacon-server.
TEST_F(HttpsEndToEnd, TheStaticExportOverHttps) {
  const fs::path site = tls_.path() / "site";
  std::ostringstream said;
  ASSERT_EQ(server::RunExport({"--root", s.release, "--out", site.string(), "--vdir", "/mbh"}, said,
                              said),
            0)
      << said.str();
  OpenForNginx(tls_.path());
  const int port = StartTls("nginx-tls-export.conf", "localhost", [&](std::string& conf) {
    Replace(conf, "/srv/mailbeacon/site/mailbeacon-maps.conf",
            (site / "mailbeacon-maps.conf").string());
    Replace(conf, "/srv/mailbeacon/site/mailbeacon-locations.conf",
            (site / "mailbeacon-locations.conf").string());
  });
  const ProgramResult r = RunOver(port, "CURL_CA_BUNDLE", 3);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(s.Read("inst/update/plugin.dll"), "plugin 1.1");
  EXPECT_TRUE(s.TakeRequests().empty());  // every answer came from the export
}

}  // namespace
}  // namespace mb::test
