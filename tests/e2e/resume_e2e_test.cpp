// Cut links and a killed agent, with the real programs: the agent gets a
// release through a link that drops every connection after so many bytes,
// and an agent killed half-way fetches only what it lacked once started
// again. Bytes are counted by a relay between agent and server.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e/sandbox.h"
#include "helpers/counting_relay.h"

namespace mb::test {
namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 6;
constexpr std::int64_t kFileBytes = 300000;

std::string Bytes(std::size_t size, int seed) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    out[i] = static_cast<char>((i * 31 + seed + i / 509) & 0xFF);
  return out;
}

class ResumeE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(fs::path(MB_BIN_DIR) / "mailbeacon-server")) GTEST_SKIP() << "no server built";
    for (int i = 1; i <= kFiles; ++i)
      files_.emplace_back("part" + std::to_string(i) + ".bin", Bytes(kFileBytes, i));
    s.Publish("express", "1.1", files_);
    s.Publish("agent", "1.0", {{"agent.cfg", "cfg"}});
    fs::create_directories(s.update);
    WriteFile(
        s.update + "/install_version.ini",
        "[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\n[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\n");
    s.StartServer();
    relay = std::make_unique<CountingRelay>(s.ServerPort());
    s.UseServerPort(relay->Port());
    s.WriteRegistry();
  }

  bool ReleaseInUpdateFolder() const {
    for (const ReleaseFile& f : files_)
      if (!s.Exists("inst/update/" + f.name) || s.Read("inst/update/" + f.name) != f.body)
        return false;
    return true;
  }

  Sandbox s;
  std::unique_ptr<CountingRelay> relay;
  std::vector<ReleaseFile> files_;
};

// Each connection breaks off in the second file it carries; without
// resuming, every run would fetch the first file again and never finish.
TEST_F(ResumeE2e, ACutLinkCompletesWithAboutTheReleaseOnTheWire) {
  relay->CutEvery(kFileBytes * 3 / 2);
  const ProgramResult r = s.RunAgent(40);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(ReleaseInUpdateFolder());
  EXPECT_LE(relay->ServerBytes(), kFiles * kFileBytes * 13 / 10);
  EXPECT_GE(relay->Connections(), 4);  // it was cut, again and again
}

TEST_F(ResumeE2e, AKilledAgentFetchesOnlyWhatItLackedOnceStartedAgain) {
  relay->HoldAfter(kFiles * kFileBytes / 2);  // half-way through the third file
  auto held_since = std::chrono::steady_clock::time_point::max();
  const ProgramResult killed = s.RunAgentUntil(5, [&] {
    // Killed once it has written what it got (the held relay sends no more).
    const auto now = std::chrono::steady_clock::now();
    if (relay->Holding() && held_since == std::chrono::steady_clock::time_point::max())
      held_since = now;
    return now - held_since > std::chrono::milliseconds(300);
  });
  ASSERT_EQ(killed.status, 137) << killed.output;
  const std::int64_t got = relay->ServerBytes();
  relay->HoldAfter(0);
  relay->ResetCounts();
  const ProgramResult again = s.RunAgent(5);
  ASSERT_EQ(again.status, 0) << again.output;
  EXPECT_TRUE(ReleaseInUpdateFolder());
  // What it lacked, and the headers of a few answers.
  EXPECT_LE(relay->ServerBytes(), kFiles * kFileBytes - got + 8000);
}

}  // namespace
}  // namespace mb::test
