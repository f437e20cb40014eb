// Downloads through WinINet against a loopback server: only a complete body
// with a good status replaces the destination, redirects and sizes are
// bounded, and nothing comes from a cache.
#include <gtest/gtest.h>

#include <filesystem>
#include <utility>
#include <vector>

#include "platform/win32/win32_network.h"
#include "platform/win32/win32_windows.h"
#include "support/error.h"
#include "support_files/temp_dir.h"
#include "win32/support/loopback_http.h"

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

}  // namespace
}  // namespace mb::win32
