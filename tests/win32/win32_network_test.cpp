// Downloads through WinINet against a loopback server: only a complete body
// with a good status replaces the destination, redirects and sizes are
// bounded, nothing comes from a cache, connections are kept between
// downloads, and a silent, stalled or too slow server is left at the limits
// while the window keeps being pumped (under Wine, which applies none of
// WinINet's session time-outs, as on Windows).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>
#include <string>
#include <utility>
#include <vector>

#include "helpers/temp_dir.h"
#include "platform/win32/win32_network.h"
#include "platform/win32/win32_windows.h"
#include "support/error.h"
#include "win32/helpers/loopback_http.h"

namespace mb::win32 {
namespace {

using platform::DownloadOptions;

class Recorder : public platform::DownloadObserver {
 public:
  void OnProgress(std::int64_t expected, std::int64_t received) override {
    calls.emplace_back(expected, received);
  }
  std::vector<std::pair<std::int64_t, std::int64_t>> calls;
};

class Win32NetworkTest : public ::testing::Test {
 protected:
  std::string Dest() { return dir_.str() + "\\file.bin"; }
  int EntryCount() {
    int n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir_.path())) ++n;
    return n;
  }
  long Get(const std::string& path, DownloadOptions o = {}) {
    o.connect_timeout_ms = 5000;
    o.stall_timeout_ms = 5000;
    return net_.Download(server_.Url(path), Dest(), o);
  }

  test::TempDir dir_;
  test::LoopbackHttp server_;
  Win32Network net_;
};

TEST_F(Win32NetworkTest, StoresTheWholeBodyAndReportsProgress) {
  const std::string body(200000, 'm');
  server_.Set("/download/agent.ini", test::HttpResponse(200, body));
  Recorder progress;
  DownloadOptions o;
  o.observer = &progress;
  ASSERT_EQ(Get("/download/agent.ini", o), platform::kDownloadOk);
  EXPECT_EQ(test::ReadFile(Dest()), body);
  ASSERT_FALSE(progress.calls.empty());
  EXPECT_EQ(progress.calls.back(), std::make_pair(std::int64_t{200000}, std::int64_t{200000}));
  EXPECT_EQ(EntryCount(), 1);
}

// An observer that gives up (the agent's message pump may end the process)
// leaves no partial file behind.
TEST_F(Win32NetworkTest, AnObserverThatThrowsLeavesNoTemporaryFile) {
  class Quitter : public platform::DownloadObserver {
   public:
    void OnProgress(std::int64_t, std::int64_t received) override {
      if (received > 0) throw ProcessEnd{0};
    }
  } quitter;
  server_.Set("/f", test::HttpResponse(200, std::string(5000, 'q')));
  DownloadOptions o;
  o.observer = &quitter;
  EXPECT_THROW(Get("/f", o), ProcessEnd);
  EXPECT_EQ(EntryCount(), 0);
}

// A resumable download: the rest of the kept bytes is asked with Range and
// If-Range and appended only when the answer is their rest; a whole answer
// starts the file over, a part of another version is refused with the kept
// bytes, and a cut leaves what came for the next attempt.
TEST_F(Win32NetworkTest, KeptBytesGoOnOnlyWithTheirOwnRest) {
  class Keeper : public platform::PartialKeeper {
   public:
    bool Keep(const platform::BodyStart& start) override {
      plans.push_back(start.plan);
      return true;
    }
    std::vector<platform::BodyStart::Plan> plans;
  } keeper;
  const std::string part = dir_.str() + "\\f.part";
  auto get = [&](const std::string& path, const std::string& kept) {
    test::WriteFile(part, kept);
    const platform::PartialTransfer p{part, static_cast<std::int64_t>(kept.size()), "\"v1\"", 10,
                                      &keeper};
    DownloadOptions o;
    o.partial = &p;
    return Get(path, o);
  };
  const std::string rest =
      "HTTP/1.1 206 Partial Content\r\nContent-Length: 6\r\nConnection: close\r\n";
  server_.Set("/rest", rest + "ETag: \"v1\"\r\nContent-Range: bytes 4-9/10\r\n\r\n456789");
  ASSERT_EQ(get("/rest", "0123"), platform::kDownloadOk);
  EXPECT_EQ(test::ReadFile(Dest()), "0123456789");
  EXPECT_FALSE(std::filesystem::exists(part));
  const std::string head = server_.LastHead("/rest");
  EXPECT_NE(head.find("Range: bytes=4-\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("If-Range: \"v1\"\r\n"), std::string::npos) << head;

  server_.Set("/whole", test::HttpResponse(200, "abcdefghij", "ETag: \"v2\"\r\n"));
  ASSERT_EQ(get("/whole", "0123"), platform::kDownloadOk);
  EXPECT_EQ(test::ReadFile(Dest()), "abcdefghij");

  server_.Set("/other", rest + "ETag: \"v2\"\r\nContent-Range: bytes 4-9/10\r\n\r\n456789");
  EXPECT_EQ(get("/other", "0123"), platform::kDownloadTransportError);
  EXPECT_EQ(test::ReadFile(Dest()), "abcdefghij");
  EXPECT_FALSE(std::filesystem::exists(part));

  server_.Set("/cut",
              "HTTP/1.1 200 OK\r\nETag: \"v3\"\r\nContent-Length: 10\r\n"
              "Connection: close\r\n\r\n01234");
  EXPECT_NE(get("/cut", "0123"), platform::kDownloadOk);
  EXPECT_EQ(test::ReadFile(part), "01234");
  EXPECT_EQ(keeper.plans, (std::vector<platform::BodyStart::Plan>{
                              platform::BodyStart::Plan::kAppend, platform::BodyStart::Plan::kWhole,
                              platform::BodyStart::Plan::kWhole}));
}

TEST_F(Win32NetworkTest, ErrorStatusLeavesTheDestinationAlone) {
  test::WriteFile(Dest(), "previous");
  server_.Set("/gone", test::HttpResponse(404, "<html>not found</html>"));
  server_.Set("/broken", test::HttpResponse(500, "oops"));
  EXPECT_EQ(Get("/gone"), platform::kDownloadHttpError);
  EXPECT_EQ(Get("/broken"), platform::kDownloadHttpError);
  EXPECT_EQ(test::ReadFile(Dest()), "previous");
  EXPECT_EQ(EntryCount(), 1);
}

TEST_F(Win32NetworkTest, ATruncatedBodyIsAFailure) {
  test::WriteFile(Dest(), "previous");
  server_.Set("/short",
              "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: close\r\n\r\nonly this");
  EXPECT_NE(Get("/short"), platform::kDownloadOk);
  EXPECT_EQ(test::ReadFile(Dest()), "previous");
  EXPECT_EQ(EntryCount(), 1);
}

TEST_F(Win32NetworkTest, RedirectsAreFollowedWithinTheLimit) {
  server_.Set("/a", test::HttpResponse(302, "", "Location: /b\r\n"));
  server_.Set("/b", test::HttpResponse(302, "", "Location: " + server_.Url("/c") + "\r\n"));
  server_.Set("/c", test::HttpResponse(200, "final"));
  ASSERT_EQ(Get("/a"), platform::kDownloadOk);
  EXPECT_EQ(test::ReadFile(Dest()), "final");

  server_.Set("/loop", test::HttpResponse(302, "", "Location: /loop\r\n"));
  DownloadOptions o;
  o.max_redirects = 3;
  EXPECT_NE(Get("/loop", o), platform::kDownloadOk);
  EXPECT_EQ(server_.Requests("/loop"), 4);
  EXPECT_EQ(test::ReadFile(Dest()), "final");
}

TEST_F(Win32NetworkTest, BodiesOverTheLimitAreRefused) {
  DownloadOptions o;
  o.max_bytes = 100;
  server_.Set("/big", test::HttpResponse(200, std::string(101, 'x')));
  EXPECT_EQ(Get("/big", o), platform::kDownloadTooLarge);
  // Without a length announced, the limit holds while reading.
  server_.Set("/big-unannounced",
              "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(5000, 'x'));
  EXPECT_EQ(Get("/big-unannounced", o), platform::kDownloadTooLarge);
  EXPECT_FALSE(std::filesystem::exists(Dest()));
  EXPECT_EQ(EntryCount(), 0);
  server_.Set("/fits", test::HttpResponse(200, std::string(100, 'y')));
  EXPECT_EQ(Get("/fits", o), platform::kDownloadOk);
}

TEST_F(Win32NetworkTest, EveryDownloadGoesToTheServer) {
  server_.Set("/pause.aspx", test::HttpResponse(200, "N", "Cache-Control: max-age=3600\r\n"));
  ASSERT_EQ(Get("/pause.aspx"), platform::kDownloadOk);
  server_.Set("/pause.aspx", test::HttpResponse(200, "R", "Cache-Control: max-age=3600\r\n"));
  ASSERT_EQ(Get("/pause.aspx"), platform::kDownloadOk);
  EXPECT_EQ(test::ReadFile(Dest()), "R");
  EXPECT_EQ(server_.Requests("/pause.aspx"), 2);
}

TEST_F(Win32NetworkTest, ADestinationThatCannotBeWrittenIsALocalError) {
  server_.Set("/f", test::HttpResponse(200, "body"));
  DownloadOptions o;
  EXPECT_EQ(net_.Download(server_.Url("/f"), dir_.str() + "\\no-such-dir\\f.bin", o),
            platform::kDownloadLocalError);
  // A destination held open without sharing cannot be replaced: it stays.
  test::WriteFile(Dest(), "in use");
  HANDLE locked = CreateFileW(dir_.path().wstring().append(L"\\file.bin").c_str(), GENERIC_READ, 0,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Get("/f"), platform::kDownloadLocalError);
  CloseHandle(locked);
  EXPECT_EQ(test::ReadFile(Dest()), "in use");
  EXPECT_EQ(EntryCount(), 1);
}

TEST_F(Win32NetworkTest, UnreachableServersAndOtherSchemesFail) {
  DownloadOptions o;
  o.connect_timeout_ms = 2000;
  // A port that was just free: nothing listens there.
  int free_port = 0;
  {
    test::LoopbackHttp probe;
    free_port = probe.Port();
  }
  EXPECT_EQ(net_.Download("http://127.0.0.1:" + std::to_string(free_port) + "/x", Dest(), o),
            platform::kDownloadTransportError);
  EXPECT_EQ(net_.Download("file:///C:/windows/win.ini", Dest(), o),
            platform::kDownloadTransportError);
  EXPECT_FALSE(std::filesystem::exists(Dest()));
}

// The requests of a run, and of later runs, share one connection while the
// server keeps it open; a server that closes it gets a new one.
// A body without end, cut at the cap: the download ends there, and what
// WinINet reads of it afterwards (Wine's drains an answer on close while
// bytes keep coming) stays within the socket's buffers, not the whole stream.
TEST_F(Win32NetworkTest, AnEndlessBodyIsLetGoAtTheCap) {
  server_.Endless("/endless");
  DownloadOptions o;
  o.max_bytes = 70000;
  auto done = std::async(std::launch::async, [&] { return Get("/endless", o); });
  if (done.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    ADD_FAILURE() << "the download never returned; sent " << server_.EndlessBytesSent();
    std::_Exit(1);  // the call cannot be cancelled
  }
  EXPECT_EQ(done.get(), platform::kDownloadTooLarge);
  const std::int64_t sent = server_.EndlessBytesSent();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_LT(server_.EndlessBytesSent(), std::int64_t{64} << 20);
  EXPECT_LT(server_.EndlessBytesSent() - sent, std::int64_t{16} << 20);  // nothing more is read
  EXPECT_EQ(EntryCount(), 0);
}

TEST_F(Win32NetworkTest, ConnectionsStayOpenBetweenDownloads) {
  const std::vector<std::string> paths{"/pause.aspx", "/express.ini", "/agent.ini"};
  for (const std::string& p : paths) server_.Set(p, test::KeptResponse(200, "answer of " + p));
  auto run = [&] {
    for (const std::string& p : paths) {
      ASSERT_EQ(Get(p), platform::kDownloadOk) << p;
      EXPECT_EQ(test::ReadFile(Dest()), "answer of " + p);
    }
  };
  for (int i = 0; i < 3; ++i) run();
  EXPECT_EQ(server_.Connections(), 1);

  server_.DropIdleConnections();
  run();
  EXPECT_EQ(server_.Connections(), 2);

  // A body refused at the cap leaves no half-read answer for the next request.
  server_.Set("/big", test::KeptResponse(200, std::string(5000, 'b')));
  DownloadOptions capped;
  capped.max_bytes = 100;
  EXPECT_EQ(Get("/big", capped), platform::kDownloadTooLarge);
  run();
  EXPECT_EQ(EntryCount(), 1);
}

// A server that accepts and never answers, or stops in the middle of the
// body, fails the download at the limits. The caller is never stuck in the
// blocking call: the observer (which pumps the agent's window) is told all
// along, and can end the process, which leaves no temporary file.
TEST_F(Win32NetworkTest, SilentOrStalledServersFailAtTheLimitsWhileTheWindowIsPumped) {
  server_.Hold("/silent");
  server_.Drip("/stalled", "0123456789", 600000);
  Recorder progress;
  DownloadOptions o;
  o.connect_timeout_ms = 200;
  o.stall_timeout_ms = 400;
  o.observer = &progress;
  for (const char* path : {"/silent", "/stalled"}) {
    progress.calls.clear();
    EXPECT_EQ(net_.Download(server_.Url(path), Dest(), o), platform::kDownloadTransportError)
        << path;
    EXPECT_GE(progress.calls.size(), 2u) << path;
  }
  EXPECT_EQ(EntryCount(), 0);

  class Quitter : public platform::DownloadObserver {
   public:
    void OnProgress(std::int64_t, std::int64_t) override {
      if (++calls == 3) throw ProcessEnd{0};
    }
    int calls = 0;
  } quitter;
  o.stall_timeout_ms = 600000;
  o.observer = &quitter;
  EXPECT_THROW(net_.Download(server_.Url("/silent"), Dest(), o), ProcessEnd);
  EXPECT_EQ(EntryCount(), 0);

  // The calls given up do not hold up the next download.
  server_.Set("/ok", test::HttpResponse(200, "fine"));
  ASSERT_EQ(Get("/ok"), platform::kDownloadOk);
  EXPECT_EQ(test::ReadFile(Dest()), "fine");
}

// Slow retrieval: a body that trickles in under the rate floor fails at the
// end of a window, though no pause reaches the stall time-out; a slow but
// steady one above the floor finishes.
TEST_F(Win32NetworkTest, ADripUnderTheRateFloorFailsASteadySlowBodyFinishes) {
  DownloadOptions o;
  o.min_rate_bytes_per_s = 20;
  o.rate_window_ms = 1000;
  server_.Drip("/trickle", std::string(100, 't'), 300);  // about 3 bytes/s
  EXPECT_EQ(Get("/trickle", o), platform::kDownloadTransportError);
  EXPECT_EQ(EntryCount(), 0);

  server_.Drip("/steady", std::string(150, 's'), 5);  // 100 to 200 bytes/s
  ASSERT_EQ(Get("/steady", o), platform::kDownloadOk);
  EXPECT_EQ(test::ReadFile(Dest()), std::string(150, 's'));
}

}  // namespace
}  // namespace mb::win32
