// A server that breaks on the small text answers: the pause state, the
// manifests and the update notice. Each is capped at 4 MiB, each failure
// counts as "no answer", and none leaves a partial file behind.
#include <filesystem>

#include "faults/fault_fixture.h"

namespace mb::test {
namespace {

struct TextFault {
  const char* label;
  Answer answer;
};

// Names the case in test listings (instead of its bytes).
void PrintTo(const TextFault& f, std::ostream* os) { *os << f.label; }

// Transport faults that every text endpoint must survive.
const TextFault kTextFaults[] = {
    {"ResetMidBody", Broken(Fault::kReset, "[DOWNLOAD]\r\nTOTAL_FILES=1\r\nLAST_VERSION=9\r\n")},
    {"BodyShortOfContentLength",
     Broken(Fault::kShortBody, "[DOWNLOAD]\r\nTOTAL_FILES=1\r\nLAST_VERSION=9\r\n")},
    {"ServerError500", Status(500, "N")},
    {"RedirectLoop", Redirect()},
    {"EndlessBody", Stream(-1)},                           // capped at 4 MiB
    {"Announces100MiB", Stream(std::int64_t{100} << 20)},  // refused by its length
};

auto LabelOf = [](const auto& param_info) { return std::string(param_info.param.label); };

// A temporary file, or anything kept in the scratch area (".scratch", the
// one hidden folder the agent makes there).
bool HasHiddenFile(const std::string& dir) {
  for (const auto& e : fault_fs::recursive_directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (e.is_directory() && name == ".scratch") continue;
    if (name[0] == '.' || e.path().parent_path().filename() == ".scratch") return true;
  }
  return false;
}

// The pause state cannot be fetched: state "N", the primary folder, and the
// run goes on to a complete hand-off.
class PauseFaults : public FaultTest, public ::testing::WithParamInterface<TextFault> {};

TEST_P(PauseFaults, CountAsStateNAndTheRunCompletes) {
  server.Set(kPause, GetParam().answer);
  EXPECT_EQ(h.RunAgent(1), kExitHandOff);
  EXPECT_EQ(h.tray->State().FolderParam, "&Folder=ORG");
  EXPECT_FALSE(fault_fs::exists(h.UpdatePath("pause.txt")));
  EXPECT_FALSE(HasHiddenFile(h.update));
  EXPECT_TRUE(h.windows.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Faults, PauseFaults, ::testing::ValuesIn(kTextFaults), LabelOf);

// The plug-in's manifest cannot be fetched: its pass finds no files (no
// partial manifest is ever read), the agent's own pass goes on and hands
// off; the next start fetches the plug-in too.
class ManifestFaults : public FaultTest, public ::testing::WithParamInterface<TextFault> {};

TEST_P(ManifestFaults, LeaveThatComponentForTheNextStart) {
  server.Set(kExpressManifest, GetParam().answer);
  EXPECT_EQ(h.RunAgent(1), kExitHandOff);
  EXPECT_FALSE(HasHiddenFile(h.update));
  const std::string list = ReadFile(h.UpdatePath("mailbeacon_download.ini"));
  EXPECT_EQ(list.find("EXPRESS"), std::string::npos) << list;
  EXPECT_NE(list.find("[AGENT_DOWNLOAD]\r\nTOTAL_FILES=1"), std::string::npos) << list;
  EXPECT_EQ(ReadFile(h.install + "/plugins/plugin.dll"), "plugin 1.0");
  for (const auto& f : express) EXPECT_FALSE(fault_fs::exists(h.UpdatePath(f.name)));
  ExpectRecovers();
}

INSTANTIATE_TEST_SUITE_P(Faults, ManifestFaults, ::testing::ValuesIn(kTextFaults), LabelOf);

// The update notice cannot be fetched: the hand-off happens all the same,
// with no notice file, whole or partial.
class NoticeFaults : public FaultTest, public ::testing::WithParamInterface<TextFault> {};

TEST_P(NoticeFaults, DoNotStopTheHandOff) {
  server.Set(kNotice, GetParam().answer);
  EXPECT_EQ(h.RunAgent(1), kExitHandOff);
  EXPECT_FALSE(fault_fs::exists(h.UpdatePath("Mailbeacon_Update_Notice.txt")));
  EXPECT_FALSE(HasHiddenFile(h.update));
}

INSTANTIATE_TEST_SUITE_P(Faults, NoticeFaults, ::testing::ValuesIn(kTextFaults), LabelOf);

using FaultyPauseFile = FaultTest;

// A pause file of zero bytes has no first line: message 4 with the read
// error, a new run in 500 ms, nothing else touched.
TEST_F(FaultyPauseFile, EmptyShowsTheErrorAndRunsAgain) {
  server.Serve(kPause, "");
  const auto before = Snapshot(h.dir.path());
  EXPECT_EQ(h.RunAgent(1), -1);
  ASSERT_EQ(h.windows.boxes.size(), 1u);
  EXPECT_EQ(h.windows.boxes[0].text, "Installation failure : Input past end of file");
  EXPECT_EQ(h.windows.armings.back(), 500);
  ExpectNoHarm(before);
  ExpectRecovers();
}

// Binary junk is read as one line like any other text: NUL bytes, bytes
// that are no CP949 text and a lone LF do not end it.
TEST_F(FaultyPauseFile, BinaryJunkFollowsTheLetterRule) {
  std::string junk;
  for (int i = 0; i < 5000; ++i)
    junk += static_cast<char>((i * 151 + 7) % 256 == '\r' ? 0 : (i * 151 + 7) % 256);
  junk.erase(std::remove_if(junk.begin(), junk.end(), [](char c) { return c == 'N' || c == 'R'; }),
             junk.end());
  server.Serve(kPause, junk + "\r\nN");
  EXPECT_EQ(h.RunAgent(1), -1);  // "Y": the mirror folder, which publishes nothing
  EXPECT_EQ(h.tray->State().FolderParam, "&Folder=MIRROR");
  EXPECT_TRUE(h.windows.boxes.empty());
  server.Serve(kPause, junk + "\nR\r\n");  // the R is on the first line
  EXPECT_EQ(StartAgent(), kExitRefused);
  EXPECT_FALSE(fault_fs::exists(h.UpdatePath("pause.txt")));
}

// A first line of 3 MiB (under the cap) is searched whole: its one "N",
// at the very end, wins.
TEST_F(FaultyPauseFile, LongFirstLineIsSearchedToItsEnd) {
  server.Serve(kPause, std::string(3 << 20, 'R') + "N\r\n");
  EXPECT_EQ(h.RunAgent(1), kExitHandOff);
  EXPECT_EQ(h.tray->State().FolderParam, "&Folder=ORG");
}

}  // namespace
}  // namespace mb::test
