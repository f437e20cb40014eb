// The deliberately broken answers that agent tests use.
#include "server/misbehaviour.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "helpers/temp_dir.h"
#include "server/server.h"

namespace mb::server {
namespace {

const std::string kBody(10000, 'b');
const std::string kFile =  // agent_exe.aspx?program=a.dat
    "/mailbeaconhome/download/agent_exe.aspx?program=670*619*673*670*689*";
const std::string kManifest = "/mailbeaconhome/download/agent_exe.aspx?version=new";

class MisbehaviourTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteFile(temp_ / "ORG/agent/release.ini", "[RELEASE]\nLAST_VERSION=1\n");
    test::WriteFile(temp_ / "ORG/agent/a.dat", kBody);
  }

  Server& Started(Misbehaviour m, const std::string& on = "") {
    ServerOptions options;
    options.root = temp_.str();
    options.log_file = (temp_ / "server.log").string();
    options.misbehaviour = m;
    options.misbehave_on = on;
    options.drip_ms = 20;
    server_ = std::make_unique<Server>(options);
    server_->Start();
    return *server_;
  }

  httplib::Result Get(const std::string& target) {
    httplib::Client client("127.0.0.1", server_->Port());
    client.set_read_timeout(10);
    return client.Get(target.c_str());
  }

  // What a raw connection receives before the server ends it, and how it ended.
  std::pair<std::string, int> RawGet(const std::string& target) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(server_->Port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::string request = "GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    std::string received;
    char buffer[4096];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0)
      received.append(buffer, static_cast<std::size_t>(n));
    int error = n < 0 ? errno : 0;
    close(fd);
    return {received.substr(received.find("\r\n\r\n") + 4), error};
  }

  test::TempDir temp_;
  std::unique_ptr<Server> server_;
};

TEST_F(MisbehaviourTest, TruncatedBodiesEndCleanlyOrWithAReset) {
  Started(Misbehaviour::kShortBody);
  EXPECT_FALSE(Get(kFile));
  EXPECT_EQ(RawGet(kFile), std::make_pair(kBody.substr(0, kBody.size() / 2), 0));
  Started(Misbehaviour::kResetMidBody);
  EXPECT_FALSE(Get(kFile));
  auto [body, error] = RawGet(kFile);
  EXPECT_EQ(error, ECONNRESET);
  EXPECT_LE(body.size(), kBody.size() / 2);
}

TEST_F(MisbehaviourTest, EndlessBodyKeepsComingUntilTheServerStops) {
  Started(Misbehaviour::kEndlessBody);
  std::size_t received = 0;
  httplib::Client client("127.0.0.1", server_->Port());
  client.Get(kFile.c_str(), [&](const char*, std::size_t n) {
    received += n;
    return received < 4 * 1024 * 1024;
  });
  EXPECT_GE(received, 4u * 1024 * 1024);

  // A reader that never gives up must not keep Stop() waiting.
  std::thread reader([port = server_->Port()] {
    httplib::Client endless("127.0.0.1", port);
    endless.Get(kFile.c_str(), [](const char*, std::size_t) { return true; });
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server_->Stop();
  reader.join();
}

TEST_F(MisbehaviourTest, SlowDripDeliversTheRightBytesSlowly) {
  test::WriteFile(temp_ / "ORG/agent/a.dat", "hello\n");
  Started(Misbehaviour::kSlowDrip);
  auto start = std::chrono::steady_clock::now();
  httplib::Result result = Get(kFile);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->body, "hello\n");
  // Six bytes with a 20 ms pause after each.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(MisbehaviourTest, ErrorsAndRedirectLoops) {
  Started(Misbehaviour::kServerError);
  ASSERT_TRUE(Get(kFile));
  EXPECT_EQ(Get(kFile)->status, 500);
  Started(Misbehaviour::kRedirectLoop);
  httplib::Result result = Get(kFile);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 302);
  EXPECT_EQ(result->get_header_value("Location"), kFile);
}

TEST_F(MisbehaviourTest, WrongHashesChangeOnlyTheManifests) {
  Started(Misbehaviour::kNone);
  std::string right = Get(kManifest)->body;
  Started(Misbehaviour::kWrongHash);
  std::string wrong = Get(kManifest)->body;
  ASSERT_EQ(right.size(), wrong.size());
  std::size_t hash = right.find("HASH=") + 5;
  EXPECT_NE(right.substr(hash, 32), wrong.substr(hash, 32));
  EXPECT_EQ(right.substr(0, hash + 31), wrong.substr(0, hash + 31));  // only the last digit
  EXPECT_EQ(Get(kFile)->body, kBody);
  EXPECT_EQ(WithWrongHashes("x\r\nHASH=09af\r\nHASH=\r\n"), "x\r\nHASH=09a0\r\nHASH=\r\n");
}

TEST_F(MisbehaviourTest, OnlyMatchingTargetsMisbehave) {
  Started(Misbehaviour::kServerError, "program=");
  EXPECT_EQ(Get(kFile)->status, 500);
  EXPECT_EQ(Get(kManifest)->status, 200);
  EXPECT_EQ(Get("/mailbeaconhome/download/pause.aspx")->body, "N");
}

}  // namespace
}  // namespace mb::server
