// The micro-cache configuration of docs/DEPLOY.md (server/deploy/
// nginx-microcache.conf) in front of mailbeacon-server, on loopback: under
// a bounded load of agents' up-to-date runs the origin sees about one
// request per URL per max-age, and every answer is the origin's.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "helpers/http_probe.h"
#include "helpers/temp_dir.h"
#include "server/server.h"

namespace mb::server {
namespace {

namespace fs = std::filesystem;

void Replace(std::string& text, const std::string& from, const std::string& to) {
  std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

TEST(MicroCache, OriginSeesAboutOneRequestPerUrlPerMaxAge) {
  if (test::NginxProgram().empty()) GTEST_SKIP() << "nginx is not installed";
  test::TempDir temp;
  test::WriteFile(temp / "release/pause.txt", "N\r\n");
  test::WriteFile(temp / "release/ORG/express/release.ini", "[RELEASE]\nLAST_VERSION=1\n");
  test::WriteFile(temp / "release/ORG/express/plugin.dll", std::string(200000, 'p'));
  test::WriteFile(temp / "release/ORG/agent/release.ini", "[RELEASE]\nLAST_VERSION=2\n");
  ServerOptions options;
  options.root = (temp / "release").string();
  options.log_file = (temp / "server.log").string();
  options.cache.text_max_age = 1;
  Server origin(options);
  origin.Start();

  int port = test::FreePort();
  std::string conf =
      test::ReadFile(fs::path(MB_SOURCE_DIR) / "server/deploy/nginx-microcache.conf");
  Replace(conf, "server 127.0.0.1:8080;",
          "server 127.0.0.1:" + std::to_string(origin.Port()) + ";");
  Replace(conf, "listen 127.0.0.1:8081;", "listen 127.0.0.1:" + std::to_string(port) + ";");
  test::WriteFile(temp / "cache/nginx.conf", conf);
  test::OpenForNginx(temp.path());
  test::NginxProcess nginx(temp / "cache", port);
  ASSERT_TRUE(nginx.Running()) << nginx.ErrorLog();

  const std::vector<std::string> run = {
      "/mailbeaconhome/download/pause.aspx",
      "/mailbeaconhome/download/express_exe.aspx?version=new&Folder=ORG",
      "/mailbeaconhome/download/agent_exe.aspx?version=new&Folder=ORG"};
  std::map<std::string, std::string> expected;
  for (const std::string& url : run) expected[url] = test::RawRequest(origin.Port(), url).body;
  origin.ClearRequests();

  std::atomic<int> asked{0};
  auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> agents;
  for (int t = 0; t < 4; ++t) {
    agents.emplace_back([&] {
      httplib::Client client("127.0.0.1", port);
      httplib::Headers no_cache = {{"Cache-Control", "no-cache"}, {"Pragma", "no-cache"}};
      while (std::chrono::steady_clock::now() - start < std::chrono::seconds(3)) {
        for (const std::string& url : run) {
          httplib::Result r = client.Get(url.c_str(), no_cache);
          ASSERT_TRUE(r);
          EXPECT_EQ(r->status, 200);
          EXPECT_EQ(r->body, expected[url]);
          ++asked;
        }
      }
    });
  }
  for (std::thread& a : agents) a.join();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::map<std::string, int> at_origin;
  for (const std::string& target : origin.Requests()) ++at_origin[target];
  for (const std::string& url : run) {
    EXPECT_GE(at_origin[url], 1) << url;
    // One per max-age (1 s), one more at each end of the window.
    EXPECT_LE(at_origin[url], static_cast<int>(seconds) + 2) << url;
  }
  EXPECT_EQ(at_origin.size(), run.size());
  EXPECT_GT(asked, 30 * static_cast<int>(origin.Requests().size())) << asked;

  // An agent's report answers no-store: the same one twice is two at the origin.
  origin.ClearRequests();
  const std::string report =
      "/mailbeaconhome/download/"
      "report.aspx?component=express&from=1&to=1&result=active&reason=&slot=";
  for (int i = 0; i < 2; ++i) EXPECT_EQ(test::RawRequest(port, report).status, 204);
  EXPECT_EQ(origin.Requests(), std::vector<std::string>(2, report));
}

}  // namespace
}  // namespace mb::server
