#include "platform/posix/posix_network.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "helpers/temp_dir.h"

namespace mb::posix {
namespace {

namespace fs = std::filesystem;
using platform::DownloadOptions;
using Ms = std::chrono::milliseconds;

// Every byte value, in an order that a shifted or truncated copy would not match.
std::string Pattern(std::size_t size) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return out;
}

// A real HTTP server on 127.0.0.1, shared by the download tests.
class TestServer {
 public:
  TestServer() {
    AddRoutes();
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() before the loop runs would be lost and the join would hang.
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~TestServer() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    server_.stop();
    thread_.join();
  }
  int port() const { return port_; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  static std::size_t Number(const httplib::Request& req) { return std::stoul(req.matches[1]); }

  // Holds a handler long past any stall timeout the tests use.
  void Hang() {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, Ms(2000), [this] { return stopping_; });
  }

  void AddRoutes() {
    server_.Get(R"(/file/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(Pattern(Number(req)), "application/octet-stream");
    });
    server_.Get(R"(/chunked/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
      const std::string body = Pattern(Number(req));
      res.set_chunked_content_provider(
          "application/octet-stream", [body](std::size_t offset, httplib::DataSink& sink) {
            const std::size_t n = std::min<std::size_t>(body.size() - offset, 65536);
            if (n > 0) sink.write(body.data() + offset, n);
            if (offset + n == body.size()) sink.done();
            return true;
          });
    });
    server_.Get(R"(/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
      res.status = static_cast<int>(Number(req));
      res.set_content("error page", "text/plain");
    });
    server_.Get(R"(/chain/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
      const std::size_t left = Number(req);
      res.set_redirect(left == 0 ? Url("/file/100") : Url("/chain/" + std::to_string(left - 1)));
    });
    server_.Get("/loop", [this](const httplib::Request&, httplib::Response& res) {
      res.set_redirect(Url("/loop"));
    });
    server_.Get("/to-local-file", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("file:///etc/hostname");
    });
    server_.Get("/short", [](const httplib::Request&, httplib::Response& res) {
      // Announces 1000 bytes, sends 100, then drops the connection.
      res.set_content_provider(1000, "application/octet-stream",
                               [](std::size_t, std::size_t, httplib::DataSink& sink) {
                                 sink.write(Pattern(100).data(), 100);
                                 return false;
                               });
    });
    server_.Get("/stall-body", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(1000, "application/octet-stream",
                               [this](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                 if (offset == 0) return sink.write("0123456789", 10);
                                 Hang();
                                 return false;
                               });
    });
    server_.Get("/stall-headers", [this](const httplib::Request&, httplib::Response& res) {
      Hang();
      res.set_content("too late", "text/plain");
    });
  }

  httplib::Server server_;
  int port_ = -1;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
};

class RecordingObserver : public platform::DownloadObserver {
 public:
  struct Call {
    std::int64_t expected;
    std::int64_t received;
  };
  void OnProgress(std::int64_t expected, std::int64_t received) override {
    calls.push_back({expected, received});
  }
  std::vector<Call> calls;
};

std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class CurlNetworkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new TestServer(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  long Fetch(const std::string& url_path, const std::string& name, DownloadOptions options = {}) {
    return net_.Download(server_->Url(url_path), (dir_ / name).string(), options);
  }
  // The folder holds exactly these names: no temporary leftovers.
  void ExpectOnly(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    EXPECT_EQ(Entries(dir_.path()), names);
  }

  static TestServer* server_;
  CurlNetwork net_;
  test::TempDir dir_;
};

TestServer* CurlNetworkTest::server_ = nullptr;

TEST_F(CurlNetworkTest, StoresExactlyTheBody) {
  EXPECT_EQ(Fetch("/file/300", "small.bin"), platform::kDownloadOk);
  EXPECT_EQ(test::ReadFile(dir_ / "small.bin"), Pattern(300));

  DownloadOptions big;
  big.max_bytes = 8 << 20;
  EXPECT_EQ(Fetch("/file/3145739", "big.bin", big), platform::kDownloadOk);
  EXPECT_EQ(test::ReadFile(dir_ / "big.bin"), Pattern(3145739));

  EXPECT_EQ(Fetch("/chunked/200000", "chunked.bin"), platform::kDownloadOk);
  EXPECT_EQ(test::ReadFile(dir_ / "chunked.bin"), Pattern(200000));

  EXPECT_EQ(Fetch("/file/0", "empty.bin"), platform::kDownloadOk);
  EXPECT_EQ(test::ReadFile(dir_ / "empty.bin"), "");
  ExpectOnly({"big.bin", "chunked.bin", "empty.bin", "small.bin"});
}

TEST_F(CurlNetworkTest, ReplacesAnExistingFileOnSuccess) {
  test::WriteFile(dir_ / "f.bin", std::string(5000, 'x'));
  EXPECT_EQ(Fetch("/file/10", "f.bin"), platform::kDownloadOk);
  EXPECT_EQ(test::ReadFile(dir_ / "f.bin"), Pattern(10));
  ExpectOnly({"f.bin"});
}

TEST_F(CurlNetworkTest, AcceptsAgentPathsWithBackslashes) {
  fs::create_directories(dir_ / "sub");
  std::string agent_path = (dir_ / "sub" / "f.bin").string();
  std::replace(agent_path.begin(), agent_path.end(), '/', '\\');
  EXPECT_EQ(net_.Download(server_->Url("/file/64"), agent_path, {}), platform::kDownloadOk);
  EXPECT_EQ(test::ReadFile(dir_ / "sub" / "f.bin"), Pattern(64));
}

TEST_F(CurlNetworkTest, HttpErrorsCreateNothingAndKeepTheOldFile) {
  test::WriteFile(dir_ / "old.bin", "old contents");
  // A 3xx answer without a target is not the file either.
  for (const char* status : {"/status/404", "/status/500", "/status/300"}) {
    SCOPED_TRACE(status);
    EXPECT_EQ(Fetch(status, "new.bin"), platform::kDownloadHttpError);
    EXPECT_EQ(Fetch(status, "old.bin"), platform::kDownloadHttpError);
    EXPECT_EQ(test::ReadFile(dir_ / "old.bin"), "old contents");
    ExpectOnly({"old.bin"});
  }
}

TEST_F(CurlNetworkTest, FollowsRedirectsUpToTheLimit) {
  DownloadOptions options;
  options.max_redirects = 3;
  EXPECT_EQ(Fetch("/chain/2", "ok.bin", options), platform::kDownloadOk);
  EXPECT_EQ(test::ReadFile(dir_ / "ok.bin"), Pattern(100));

  options.max_redirects = 2;
  EXPECT_NE(Fetch("/chain/2", "too_many.bin", options), platform::kDownloadOk);
  EXPECT_NE(Fetch("/loop", "loop.bin"), platform::kDownloadOk);
  ExpectOnly({"ok.bin"});
}

TEST_F(CurlNetworkTest, RefusesRedirectsToOtherSchemes) {
  EXPECT_EQ(Fetch("/to-local-file", "f.bin"), platform::kDownloadTransportError);
  ExpectOnly({});
}

TEST_F(CurlNetworkTest, RejectsBodiesOverTheLimit) {
  test::WriteFile(dir_ / "old.bin", "old contents");
  DownloadOptions options;
  options.max_bytes = 100000;
  EXPECT_EQ(Fetch("/file/100001", "announced.bin", options), platform::kDownloadTooLarge);
  EXPECT_EQ(Fetch("/chunked/100001", "unannounced.bin", options), platform::kDownloadTooLarge);
  EXPECT_EQ(Fetch("/chunked/300000", "old.bin", options), platform::kDownloadTooLarge);
  EXPECT_EQ(test::ReadFile(dir_ / "old.bin"), "old contents");
  ExpectOnly({"old.bin"});

  EXPECT_EQ(Fetch("/file/100000", "at_limit.bin", options), platform::kDownloadOk);
  EXPECT_EQ(Fetch("/chunked/100000", "chunked_at_limit.bin", options), platform::kDownloadOk);
  ExpectOnly({"at_limit.bin", "chunked_at_limit.bin", "old.bin"});
}

TEST_F(CurlNetworkTest, FailsOnABodyShorterThanAnnounced) {
  EXPECT_EQ(Fetch("/short", "f.bin"), platform::kDownloadTransportError);
  ExpectOnly({});
}

TEST_F(CurlNetworkTest, GivesUpOnAStalledServer) {
  DownloadOptions options;
  options.stall_timeout_ms = 300;
  for (const char* path : {"/stall-body", "/stall-headers"}) {
    SCOPED_TRACE(path);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Fetch(path, "f.bin", options), platform::kDownloadTransportError);
    // The server holds on for two seconds; giving up must come well before.
    EXPECT_LT(std::chrono::steady_clock::now() - start, Ms(1500));
  }
  ExpectOnly({});
}

TEST_F(CurlNetworkTest, FailsWhenTheConnectionIsRefused) {
  // A bound socket that does not listen refuses connections to its port.
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), len), 0);
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/file/1";
  EXPECT_EQ(net_.Download(url, (dir_ / "f.bin").string(), {}), platform::kDownloadTransportError);
  close(fd);
  ExpectOnly({});
}

TEST_F(CurlNetworkTest, ReportsALocalErrorWhenTheFolderIsMissing) {
  EXPECT_EQ(Fetch("/file/10", "missing/f.bin"), platform::kDownloadLocalError);
  ExpectOnly({});
}

TEST_F(CurlNetworkTest, ObserverFollowsTheBody) {
  RecordingObserver observer;
  DownloadOptions options;
  options.observer = &observer;
  options.max_bytes = 8 << 20;
  const std::int64_t size = 3 << 20;
  ASSERT_EQ(Fetch("/file/" + std::to_string(size), "f.bin", options), platform::kDownloadOk);
  ASSERT_FALSE(observer.calls.empty());
  EXPECT_EQ(observer.calls.back().received, size);
  // Before the answer's headers the size is not known yet (-1); after them
  // it is the announced one, and the count of bytes never goes back.
  for (std::size_t i = 0; i < observer.calls.size(); ++i) {
    if (observer.calls[i].received > 0) {
      EXPECT_EQ(observer.calls[i].expected, size);
    }
    EXPECT_TRUE(observer.calls[i].expected == size || observer.calls[i].expected == -1);
    if (i > 0) {
      EXPECT_GE(observer.calls[i].received, observer.calls[i - 1].received);
      EXPECT_FALSE(observer.calls[i - 1].expected == size && observer.calls[i].expected == -1);
    }
  }

  observer.calls.clear();
  ASSERT_EQ(Fetch("/chunked/1000", "g.bin", options), platform::kDownloadOk);
  ASSERT_FALSE(observer.calls.empty());
  EXPECT_EQ(observer.calls.back().expected, -1);
  EXPECT_EQ(observer.calls.back().received, 1000);
}

// ---------------------------------------------------------------------------
// Connectivity, checked inside a private network namespace so the answer does
// not depend on the machine running the tests.

constexpr int kSkip = 77;

bool Run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The interface state changes through the kernel's link watcher, which may lag.
bool BecomesConnected(CurlNetwork& net) {
  for (int i = 0; i < 40; ++i) {
    if (net.IsConnected()) return true;
    std::this_thread::sleep_for(Ms(50));
  }
  return false;
}

// Exit status: 0 when every step answered as expected, kSkip when the
// namespace cannot be set up, otherwise 10 + the failing step.
int ConnectivityStepsInNewNamespace() {
  if (unshare(CLONE_NEWNET) != 0) return kSkip;
  CurlNetwork net;
  if (net.IsConnected()) return 11;  // nothing but a downed loopback
  if (!Run("ip link set lo up")) return kSkip;
  if (net.IsConnected()) return 12;  // loopback never counts
  if (!Run("ip link add mbv0 type veth peer name mbv1") ||
      !Run("ip addr add 10.200.0.1/24 dev mbv0") || !Run("ip link set mbv0 up")) {
    return kSkip;
  }
  std::this_thread::sleep_for(Ms(200));
  if (net.IsConnected()) return 13;  // an address but no carrier: the peer is down
  if (!Run("ip link set mbv1 up")) return kSkip;
  if (!BecomesConnected(net)) return 14;
  return 0;
}

TEST(CurlNetworkConnectivity, FollowsTheInterfacesOfItsOwnNamespace) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(ConnectivityStepsInNewNamespace());
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kSkip) GTEST_SKIP() << "cannot create a network namespace here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "failing step " << WEXITSTATUS(status) - 10;
}

}  // namespace
}  // namespace mb::posix
