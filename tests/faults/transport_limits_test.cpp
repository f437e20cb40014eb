// The limits that keep a hostile server from holding or flooding the agent,
// at the download backend the agent uses (POSIX: libcurl). The agent's own
// limits (a 30 s stall time-out, a rate floor over 60 s, a 4 GiB cap on a
// listed file) are too large for a test, so these run the same backend with
// small ones; the agent-level tests cover the 4 MiB cap of the text answers.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "faults/hostile_server.h"
#include "helpers/temp_dir.h"
#include "platform/posix/posix_network.h"

namespace mb::test {
namespace {

namespace fs = std::filesystem;

class RecordingObserver : public platform::DownloadObserver {
 public:
  std::vector<std::int64_t> received;
  void OnProgress(std::int64_t, std::int64_t r) override { received.push_back(r); }
};

class FaultyTransfer : public ::testing::Test {
 protected:
  void SetUp() override { WriteFile(dest, "the complete earlier copy"); }

  long Fetch(const Answer& answer, platform::DownloadOptions options) {
    server.Set("/f", answer);
    options.observer = &observer;
    return net.Download(server.Url() + "/f", dest, options);
  }
  static platform::DownloadOptions Limits(long stall_ms, std::int64_t cap = 1 << 20) {
    platform::DownloadOptions o;
    o.stall_timeout_ms = stall_ms;
    o.max_bytes = cap;
    return o;
  }
  // A failed transfer leaves the earlier file as it was and no temporary.
  void ExpectEarlierCopyKept() {
    EXPECT_EQ(ReadFile(dest), "the complete earlier copy");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  }

  TempDir dir;
  std::string dest = (dir.path() / "file.bin").string();
  HostileServer server;
  posix::CurlNetwork net;
  RecordingObserver observer;
};

TEST_F(FaultyTransfer, DripSlowerThanTheStallTimeoutFails) {
  EXPECT_NE(Fetch(Drip("abcdef", 1500), Limits(300)), platform::kDownloadOk);
  ExpectEarlierCopyKept();
}

TEST_F(FaultyTransfer, ServerThatNeverAnswersFailsAtTheStallTimeout) {
  EXPECT_NE(Fetch(Broken(Fault::kSilent), Limits(300)), platform::kDownloadOk);
  ExpectEarlierCopyKept();
}

// A drip that keeps just inside the stall time-out is a slow server, not a
// dead one: the transfer completes and is reported byte by byte, so the
// agent's window keeps pumping all along.
TEST_F(FaultyTransfer, DripInsideTheStallTimeoutCompletesWithProgressAllAlong) {
  EXPECT_EQ(Fetch(Drip("0123456789", 40), Limits(2000)), platform::kDownloadOk);
  EXPECT_EQ(ReadFile(dest), "0123456789");
  EXPECT_GE(observer.received.size(), 5u);
  EXPECT_TRUE(std::is_sorted(observer.received.begin(), observer.received.end()));
}

// Slow retrieval: a drip far under the rate floor fails at the end of a
// window, though no pause between its bytes reaches the stall time-out; a
// slow but steady body above the floor finishes. (The agent's floor is
// 1 KiB/s over 60 s; the same backend with 20 bytes/s over 1 s here.)
TEST_F(FaultyTransfer, DripUnderTheRateFloorFailsASteadySlowBodyFinishes) {
  platform::DownloadOptions o = Limits(2000);
  o.min_rate_bytes_per_s = 20;
  o.rate_window_ms = 1000;
  EXPECT_EQ(Fetch(Drip(std::string(100, 't'), 300), o), platform::kDownloadTransportError);
  ExpectEarlierCopyKept();

  EXPECT_EQ(Fetch(Drip(std::string(100, 's'), 5), o), platform::kDownloadOk);
  EXPECT_EQ(ReadFile(dest), std::string(100, 's'));
}

TEST_F(FaultyTransfer, EndlessBodyFailsAtTheCap) {
  EXPECT_EQ(Fetch(Stream(-1), Limits(5000)), platform::kDownloadTooLarge);
  ExpectEarlierCopyKept();
  ASSERT_FALSE(observer.received.empty());
  EXPECT_LE(observer.received.back(), std::int64_t{1} << 20);
}

TEST_F(FaultyTransfer, AnnouncedSizeOverTheCapFailsBeforeTheBody) {
  EXPECT_EQ(Fetch(Stream(std::int64_t{100} << 20), Limits(5000)), platform::kDownloadTooLarge);
  ExpectEarlierCopyKept();
  EXPECT_TRUE(observer.received.empty());
}

TEST_F(FaultyTransfer, BodyOfExactlyTheCapIsWhole) {
  EXPECT_EQ(Fetch(Stream(1 << 20), Limits(5000)), platform::kDownloadOk);
  EXPECT_EQ(fs::file_size(dest), 1u << 20);
}

TEST_F(FaultyTransfer, BrokenAnswersKeepTheEarlierCopy) {
  for (const Answer& a :
       {Broken(Fault::kReset, std::string(100000, 'r')),
        Broken(Fault::kShortBody, std::string(100000, 's')), Status(500), Status(404), Redirect(),
        Redirect("file:///etc/hostname"), Redirect("ftp://127.0.0.1/x")}) {
    EXPECT_NE(Fetch(a, Limits(2000)), platform::kDownloadOk);
    ExpectEarlierCopyKept();
  }
}

// While a server holds the connection without sending, the window must
// still be pumped: the backend reports a running transfer to its observer
// every 100 ms, new bytes or not, until the stall time-out ends it.
TEST_F(FaultyTransfer, StalledTransferStillReportsToItsObserver) {
  EXPECT_NE(Fetch(Broken(Fault::kSilent), Limits(1500)), platform::kDownloadOk);
  EXPECT_GE(observer.received.size(), 5u);
}

}  // namespace
}  // namespace mb::test
