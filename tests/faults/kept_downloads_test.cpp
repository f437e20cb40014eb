// What the agent keeps between passes (the update folder's scratch area):
// verified copies of a failed pass, the bytes of a cut transfer, and the
// bounds on both. The update folder itself, the pending-install list and
// the install record stay exactly as a pass without them leaves them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>

#include "faults/fault_fixture.h"

namespace mb::test {
namespace {

using KeptDownloads = FaultTest;
namespace kfs = std::filesystem;

std::set<std::string> ScratchNames(const AgentHarness& h) {
  std::set<std::string> names;
  if (!kfs::exists(h.update + "/.scratch")) return names;
  for (const auto& e : kfs::directory_iterator(h.update + "/.scratch"))
    names.insert(e.path().filename().string());
  return names;
}

int Count(const std::vector<std::string>& all, const std::string& one) {
  return static_cast<int>(std::count(all.begin(), all.end(), one));
}

// The request head of the last request for target.
std::string LastHead(const HostileServer& server, const std::string& target) {
  const std::vector<std::string> requests = server.Requests();
  const std::vector<std::string> heads = server.Heads();
  for (std::size_t i = requests.size(); i-- > 0;)
    if (requests[i] == target) return heads[i];
  return "";
}

TEST_F(KeptDownloads, AFailedPassSetsItsVerifiedCopiesAsideForTheNextPass) {
  AgentUpToDate();
  server.Set(ExpressFile("help.txt"), Status(404));
  const auto before = Snapshot(h.dir.path());
  EXPECT_EQ(h.RunAgent(1), -1);  // the run repeats
  // The update folder as the failed pass has always left it.
  EXPECT_FALSE(kfs::exists(h.UpdatePath("plugin.new")));
  EXPECT_FALSE(kfs::exists(h.UpdatePath("mailbeacon_download.ini")));
  EXPECT_EQ(ScratchNames(h), (std::set<std::string>{"plugin.new.kept", "plugin.new.kept.rec"}));
  ExpectNoHarm(before);

  server.ClearRequests();
  PublishHealthy();
  AgentUpToDate();
  ASSERT_EQ(StartAgent(), kExitHandOff);
  EXPECT_EQ(Count(server.Requests(), ExpressFile("plugin.new")), 0);  // taken from the area
  EXPECT_EQ(Count(server.Requests(), ExpressFile("help.txt")), 1);
  for (const auto& f : express) EXPECT_EQ(ReadFile(h.UpdatePath(f.name)), f.body);
  EXPECT_EQ(ScratchNames(h), std::set<std::string>{});
}

// A server that answers every request whole (with an ETag, or none): the cut file is
// asked for from where it stopped, comes whole, and the update completes.
TEST_F(KeptDownloads, AServerThatIgnoresRangesStillCompletesTheUpdate) {
  const std::string body = express[0].body;
  server.Set(ExpressFile("plugin.new"), Tagged(Broken(Fault::kShortBody, body), "\"p1\""));
  EXPECT_EQ(h.RunAgent(1), -1);
  EXPECT_EQ(ReadFile(h.UpdatePath(".scratch/plugin.new.part")), body.substr(0, body.size() / 2));
  server.ClearRequests();
  ExpectRecovers();
  EXPECT_NE(LastHead(server, ExpressFile("plugin.new")).find("Range: bytes=1505-"),
            std::string::npos);
  EXPECT_EQ(ScratchNames(h), std::set<std::string>{});
}

// A server that sends the rest of another version under the same ETag: the
// pieced-together file fails its digest like any other, is never handed
// over or kept, and the next start fetches the file whole.
TEST_F(KeptDownloads, APiecedTogetherFileIsCheckedLikeAnyOther) {
  const std::string body = express[0].body;
  const std::size_t half = body.size() / 2;
  server.Set(ExpressFile("plugin.new"), Tagged(Broken(Fault::kShortBody, body), "\"p1\""));
  EXPECT_EQ(h.RunAgent(1), -1);
  const std::string other = std::string(body.size() - half, 'X');
  server.Set(ExpressFile("plugin.new"),
             Raw("HTTP/1.1 206 Partial Content\r\nConnection: close\r\nETag: \"p1\"\r\n"
                 "Content-Range: bytes " +
                 std::to_string(half) + "-" + std::to_string(body.size() - 1) + "/" +
                 std::to_string(body.size()) +
                 "\r\nContent-Length: " + std::to_string(other.size()) + "\r\n\r\n" + other));
  EXPECT_EQ(StartAgent(), -1);
  EXPECT_TRUE(h.process.starts.empty());
  EXPECT_FALSE(kfs::exists(h.UpdatePath("plugin.new")));
  EXPECT_EQ(ScratchNames(h), std::set<std::string>{});
  server.ClearRequests();
  ExpectRecovers();
  EXPECT_EQ(LastHead(server, ExpressFile("plugin.new")).find("Range:"), std::string::npos);
}

// A server that publishes another name at every run and cuts it off: the
// area keeps only what the manifest still names. What a crash left there,
// and a pair older than a day, go at the end of the next run.
TEST_F(KeptDownloads, TheScratchAreaKeepsOnlyWhatTheManifestStillNames) {
  const std::string area = h.update + "/.scratch/";
  const std::string record = "kind=0\nurl=\ndigest=d\nvalidator=\ntotal=4\n";
  for (const char* name : {"fresh.dll.kept", "aged.dll.kept", "orphan.dll.part"})
    WriteFile(area + name, "four");
  WriteFile(area + "fresh.dll.kept.rec", record);  // another component's: left to its pass
  WriteFile(area + "aged.dll.kept.rec", record);
  WriteFile(area + "cut.dll.part.rec.tmp", "kind=1\nur");
  kfs::last_write_time(area + "aged.dll.kept",
                       kfs::file_time_type::clock::now() - std::chrono::hours(25));
  const std::string body = express[0].body;
  for (int run = 0; run < 3; ++run) {
    express[0].name = "plugin" + std::to_string(run) + ".new";
    PublishHealthy();
    server.Set(ExpressFile(express[0].name), Tagged(Broken(Fault::kShortBody, body), "\"p\""));
    EXPECT_EQ(StartAgent(), -1);
    EXPECT_EQ(ScratchNames(h),
              (std::set<std::string>{express[0].name + ".part", express[0].name + ".part.rec",
                                     "fresh.dll.kept", "fresh.dll.kept.rec"}))
        << "run " << run;
  }
}

}  // namespace
}  // namespace mb::test
