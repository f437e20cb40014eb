// Manifests no real server writes: binary junk, lines of 1 MiB, a file
// count far above the sections present, names that would leave the update
// or target folder, Korean names in CP949 (valid and broken). None may
// crash the agent, fetch a file to a place outside its folders or leave
// anything behind that the next healthy start cannot clean up.
#include <algorithm>
#include <filesystem>

#include "faults/fault_fixture.h"
#include "platform/posix/posix_codepage.h"

namespace mb::test {
namespace {

using FaultyManifest = FaultTest;

// Deterministic bytes of every value, NUL, CR, LF, "[" and "=" included.
std::string Junk(std::size_t size, std::uint32_t seed) {
  std::string out(size, '\0');
  for (char& c : out) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return out;
}

std::string ExpressSection(const std::string& total, const std::string& name,
                           const std::string& org, const std::string& dir = ".") {
  return "[DOWNLOAD]\r\nTOTAL_FILES=" + total + "\r\nLAST_VERSION=1.1\r\n[FILE_1]\r\nNAME=" + name +
         "\r\nVERSION=1.1\r\nORG_NAME=" + org + "\r\nTARGET_DIR=" + dir + "\r\nHASH=\r\n";
}

bool AnyFileRequested(const std::vector<std::string>& requests) {
  for (const auto& r : requests) {
    if (r.find("program=") != std::string::npos) return true;
  }
  return false;
}

// Junk reads as a manifest without TOTAL_FILES or LAST_VERSION: the plug-in
// counts as out of date with nothing to fetch, the agent's pass goes on.
TEST_F(FaultyManifest, BinaryJunkListsNothing) {
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    server.Serve(kExpressManifest, Junk(256 * 1024, seed));
    EXPECT_EQ(StartAgent(), kExitHandOff) << seed;
    EXPECT_EQ(ReadFile(h.install + "/plugins/plugin.dll"), "plugin 1.0");
    EXPECT_EQ(ReadFile(h.UpdatePath("mailbeacon_download.ini")).find("EXPRESS"), std::string::npos);
  }
  ExpectRecovers();
}

// A count that is junk, or does not fit 16 bits, lists nothing.
TEST_F(FaultyManifest, CountThatIsNoNumberListsNothing) {
  for (const std::string total : {"\x01\xff", "32768", "1e3", "99999999999999999999", "-"}) {
    server.Serve(kExpressManifest, ExpressSection(total, "help.txt", "help.txt"));
    server.ClearRequests();
    EXPECT_EQ(StartAgent(), kExitHandOff) << total;
    for (const auto& r : server.Requests())
      EXPECT_EQ(r.find("express_exe.aspx?program="), std::string::npos);
  }
  ExpectRecovers();
}

// Values are cut to 1023 bytes as the Windows profile functions cut them;
// a 1 MiB line without "=" is skipped. The cut name is longer than any file
// name may be: its download fails, the pass stops and retries. (Three such
// lines: four would pass the 4 MiB cap, and the manifest would count as
// not fetched at all.)
TEST_F(FaultyManifest, LinesOfOneMebibyte) {
  const std::string mib(1 << 20, 'n');
  server.Serve(kExpressManifest, "[DOWNLOAD]\r\n" + std::string(1 << 20, 'x') +
                                     "\r\nTOTAL_FILES=1\r\nLAST_VERSION=" +
                                     std::string(1 << 20, 'v') + "\r\n[FILE_1]\r\nNAME=" + mib +
                                     "\r\nORG_NAME=n.dll\r\nTARGET_DIR=.\r\nHASH=\r\n");
  const auto before = Snapshot(h.dir.path());
  EXPECT_EQ(h.RunAgent(1), -1);
  EXPECT_EQ(h.windows.statuses.back(), "Downloading failure..");
  ExpectNoHarm(before);
  ExpectRecovers();
}

// TOTAL_FILES=32767 over two real sections: the 32765 missing ones read as
// empty names and target folders, which no list may hold; the pass fails
// before a single file is fetched.
TEST_F(FaultyManifest, HugeCountWithFewSectionsIsRefused) {
  std::string m = ManifestText("1.1", express);
  m.replace(m.find("TOTAL_FILES=2"), 13, "TOTAL_FILES=32767");
  server.Serve(kExpressManifest, m);
  AgentUpToDate();
  const auto before = Snapshot(h.dir.path());
  EXPECT_EQ(h.RunAgent(1), -1);
  EXPECT_FALSE(AnyFileRequested(server.Requests()));
  EXPECT_EQ(h.windows.statuses.back(), "Downloading failure..");
  ExpectNoHarm(before);
  ExpectRecovers();
}

// 32767 files to fetch in the agent's own manifest, after the plug-in's
// pass listed two, overflow the 16-bit file count: the agent's pass ends
// with its error box (position 2, error 6, overflow) and, as that box does
// not ask for a retry, the plug-in's files are handed over.
TEST_F(FaultyManifest, HugeCountInTheSecondPassOverflowsTheFileCount) {
  std::string m = "[DOWNLOAD]\r\nTOTAL_FILES=32767\r\nLAST_VERSION=2.0\r\n";
  for (int i = 1; i <= 32767; ++i) {
    m += "[FILE_" + std::to_string(i) + "]\r\nNAME=x.dll\r\nORG_NAME=x.dll\r\nTARGET_DIR=.\r\n";
  }
  server.Serve(kAgentManifest, m);
  EXPECT_EQ(h.RunAgent(1), kExitHandOff);
  ASSERT_EQ(h.windows.boxes.size(), 1u);
  EXPECT_EQ(h.windows.boxes[0].text,
            "Installation failure : subDownLoadNewVersion : position - 2, 6");
  EXPECT_EQ(ReadFile(h.install + "/SwiftPatcher_Mailbeacon.exe"), "updater 1.0");
  EXPECT_EQ(ReadFile(h.UpdatePath("mailbeacon_download.ini")).find("AGENT"), std::string::npos);
}

struct BadName {
  const char* label;
  std::string name, org_name;
};

void PrintTo(const BadName& b, std::ostream* os) { *os << b.label; }

class FaultyNames : public FaultTest, public ::testing::WithParamInterface<BadName> {};

// A name that could reach outside the update or target folder, or that the
// updater could not install, makes the list refused as a whole: nothing is
// requested, nothing written.
TEST_P(FaultyNames, AreRefusedBeforeAnythingIsFetched) {
  server.Serve(kExpressManifest, ExpressSection("1", GetParam().name, GetParam().org_name));
  AgentUpToDate();
  const auto before = Snapshot(h.dir.path());
  EXPECT_EQ(h.RunAgent(1), -1);
  EXPECT_FALSE(AnyFileRequested(server.Requests()));
  EXPECT_EQ(h.windows.statuses.back(), "Downloading failure..");
  ExpectNoHarm(before);
  ExpectRecovers();
}

const BadName kBadNames[] = {
    {"DotDotBackslash", "..\\..\\evil.dll", "..\\..\\evil.dll"},
    {"DotDotSlash", "../../evil.dll", "../../evil.dll"},
    {"DotDotAlone", "..", ".."},
    {"Backslash", "sub\\evil.dll", "sub\\evil.dll"},
    {"Slash", "sub/evil.dll", "sub/evil.dll"},
    {"PosixAbsolute", "/tmp/evil.dll", "/tmp/evil.dll"},
    {"DriveAbsolute", "C:\\evil.dll", "C:\\evil.dll"},
    {"StreamColon", "evil.dll:stream", "evil.dll:stream"},
    {"OnlyTheInstalledNameEscapes", "evil.dll", "..\\SwiftPatcher_Mailbeacon.exe"},
    {"OnlyTheDownloadNameEscapes", "../SwiftPatcher_Mailbeacon.exe", "evil.dll"},
    {"DotAsDownloadName", ".", "."},
    {"DotAsInstalledName", "help.txt", "."},
    // Names Windows cannot make: the updater could never install them.
    {"WindowsForbiddenCharacter", "q?.dll", "q?.dll"},
    {"DeviceNameWithExtension", "help.txt", "nul.txt"},
    {"TrailingDot", "help.txt", "help.txt."},
    // Hidden on POSIX: the copy would count as missing, fetched for ever.
    {"BeginsWithADot", ".dotfile", ".dotfile"},
    {"InstalledHidden", "help.txt", ".help.txt"},
    // The agent's own files in the update folder.
    {"TheInstallRecord", "install_version.ini", "help.txt"},
    {"ThePauseStateInOtherCase", "Pause.TXT", "help.txt"},
    // Named like a backup, which the update folder keeps.
    {"NamedLikeABackup", "help.txt_old", "help.txt"},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultyNames, ::testing::ValuesIn(kBadNames),
                         [](const auto& param_info) {
                           return std::string(param_info.param.label);
                         });

// Dots inside a name cannot leave a folder: "a..b.dll" is fetched and
// listed like any other file.
TEST_F(FaultyManifest, DotsInsideANameAreNoTraversal) {
  for (auto* list : {&express, &agent}) {
    list->push_back({"a..b.dll", "two dots 1.1", "a..b.dll", ".", "1.1"});
  }
  agent.back().name = agent.back().org_name = "c...d.dll";
  PublishHealthy();
  EXPECT_EQ(StartAgent(), kExitHandOff);
  EXPECT_EQ(ReadFile(h.UpdatePath("a..b.dll")), "two dots 1.1");
  EXPECT_EQ(ReadFile(h.UpdatePath("c...d.dll")), "two dots 1.1");
  const std::string list = ReadFile(h.UpdatePath("mailbeacon_download.ini"));
  EXPECT_NE(list.find("NAME=a..b.dll\r\n"), std::string::npos) << list;
  EXPECT_NE(list.find("NAME=c...d.dll\r\n"), std::string::npos) << list;
}

struct BadTarget {
  const char* label;
  std::string target_dir;
  std::string system_dir = "";  // MAILBEACON_SYSTEM_DIR, relative to the install folder
};

void PrintTo(const BadTarget& b, std::ostream* os) { *os << b.label; }

class FaultyTargetDirs : public FaultTest, public ::testing::WithParamInterface<BadTarget> {};

// A target folder that is not absolute, or cannot be made, fails the pass
// visibly: message 3, nothing fetched, nothing made anywhere (a relative
// folder would have depended on the working directory, and the updater
// could not have used it), and with nothing else to hand over a new run,
// which does not count towards the retry question (nothing a retry could
// mend).
TEST_P(FaultyTargetDirs, FailThePassVisiblyBeforeAnythingIsFetched) {
  const std::string system_dir = h.process.system_dir;
  if (!GetParam().system_dir.empty()) h.process.system_dir = h.install + GetParam().system_dir;
  server.Serve(kExpressManifest,
               ExpressSection("1", "help.txt", "help.txt", GetParam().target_dir));
  AgentUpToDate();
  const auto before = Snapshot(h.dir.path());
  EXPECT_EQ(h.RunAgent(1), -1);
  EXPECT_FALSE(AnyFileRequested(server.Requests()));
  EXPECT_EQ(h.windows.statuses.back(), "Downloading failure..");
  EXPECT_TRUE(h.tray->PlanRefused());
  EXPECT_EQ(h.tray->RetryPromptCount(), 0);
  ExpectNoHarm(before);
  for (const char* stray : {"sub", "System32", "C:", "no-such-server"}) {
    EXPECT_FALSE(fault_fs::exists(stray)) << stray;
  }
  h.process.system_dir = system_dir;
  ExpectRecovers();
}

const BadTarget kBadTargets[] = {
    {"Relative", "sub"},
    {"SystemKeywordInCapitals", "System32"},
    {"Empty", ""},
    {"DriveOnPosix", "C:\\Windows\\Temp"},
    {"UnderAFile", ".\\plugins\\plugin.dll\\sub"},
    {"AFile", ".\\plugins\\plugin.dll"},
    {"ShareThatIsNotThere", "\\\\no-such-server\\share\\dir"},
    {"ShareRootThatIsNotThere", "\\\\no-such-server\\share"},
    {"SystemDirUnderAFile", "system32", "/plugins/plugin.dll/sys"},
    // Installed where the copies lie: the updater would remove what it put there.
    {"TheUpdateFolder", ".\\update"},
    {"TheUpdateFolderSpelledOtherwise", ".\\plugins\\..\\update\\"},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultyTargetDirs, ::testing::ValuesIn(kBadTargets),
                         [](const auto& param_info) {
                           return std::string(param_info.param.label);
                         });

// A folder written from the top of the tree ("\dir") is made below it and
// listed as written; on POSIX "\\tmp\x\dir" is a share mounted at /tmp/x.
TEST_F(FaultyManifest, RootRelativeAndShareTargetsAreMadeBelowTheirRoot) {
  std::string top = h.install;
  std::replace(top.begin(), top.end(), '/', '\\');
  express[1].target_dir = top + "\\rooted\\help";
  agent[1].target_dir = "\\" + top + "\\shared\\cfg";
  PublishHealthy();
  EXPECT_EQ(StartAgent(), kExitHandOff);
  EXPECT_TRUE(fault_fs::is_directory(h.install + "/rooted/help"));
  EXPECT_TRUE(fault_fs::is_directory(h.install + "/shared/cfg"));
  const std::string list = ReadFile(h.UpdatePath("mailbeacon_download.ini"));
  EXPECT_NE(list.find("TARGET_DIR=" + top + "\\rooted\\help\r\n"), std::string::npos) << list;
  EXPECT_NE(list.find("TARGET_DIR=\\" + top + "\\shared\\cfg\r\n"), std::string::npos) << list;
}

// Two files of one release installed under one name in one folder, or a
// file of the agent's release that the plug-in's pass already listed: the
// updater would refuse the list, so the agent hands none over. Within a
// pass the pass fails; across passes the later one waits for the next
// start, and the earlier pass's files are handed over now.
TEST_F(FaultyManifest, ListsTheUpdaterWouldRefuseAreNotHandedOver) {
  // Installed as the same file, or as the other's backup.
  for (const std::string org_name : {"PLUGIN.DLL", "plugin.dll_old"}) {
    express.push_back({"plugin_b.new", "plugin 1.1b", org_name, ".\\plugins", "1.1"});
    PublishHealthy();
    AgentUpToDate();
    server.ClearRequests();
    const auto before = Snapshot(h.dir.path());
    EXPECT_EQ(StartAgent(), -1) << org_name;
    EXPECT_FALSE(AnyFileRequested(server.Requests()));
    EXPECT_EQ(h.windows.statuses.back(), "Downloading failure..");
    ExpectNoHarm(before);
    express.pop_back();
  }

  agent.push_back({"help.txt", "help 2.0", "help.txt", ".\\agent", "2.0"});
  PublishHealthy();
  server.ClearRequests();
  EXPECT_EQ(StartAgent(), kExitHandOff);
  EXPECT_EQ(ReadFile(h.UpdatePath("help.txt")), "help 1.1");
  const std::string list = ReadFile(h.UpdatePath("mailbeacon_download.ini"));
  EXPECT_NE(list.find("[EXPRESS_DOWNLOAD]\r\nTOTAL_FILES=2"), std::string::npos) << list;
  EXPECT_EQ(list.find("AGENT_DOWNLOAD"), std::string::npos) << list;
  for (const auto& r : server.Requests())
    EXPECT_EQ(r.find("agent_exe.aspx?program="), std::string::npos);
}

// The updater's own file, installed by the agent itself: into the update
// folder it would be its own copy, deleted as soon as it was in place,
// while the install record said it was current.
TEST_F(FaultyManifest, UpdaterFileIntoTheUpdateFolderIsRefused) {
  agent[0].name = agent[0].org_name = "SwiftPatcher_Mailbeacon.exe";
  agent[0].target_dir = ".\\update";
  PublishHealthy();
  EXPECT_EQ(StartAgent(), kExitHandOff);  // the plug-in's files
  for (const auto& r : server.Requests())
    EXPECT_EQ(r.find("agent_exe.aspx?program="), std::string::npos) << r;
  EXPECT_EQ(ReadFile(h.install + "/SwiftPatcher_Mailbeacon.exe"), "updater 1.0");
  EXPECT_EQ(ReadFile(h.UpdatePath("install_version.ini")).find("[SwiftPatcher_Mailbeacon.exe]"),
            std::string::npos);
}

// A pass whose plan the updater could not apply (here a relative target
// folder) fails alone: the other component's files are fetched and handed
// over, whichever pass comes first, and the bad one fetches nothing.
TEST_F(FaultyManifest, ABadPlanFailsOnlyItsOwnPass) {
  auto requested = [&](const std::string& what) {
    const auto& r = server.Requests();
    return std::any_of(r.begin(), r.end(),
                       [&](const std::string& t) { return t.find(what) != std::string::npos; });
  };
  agent[1].target_dir = "sub";
  PublishHealthy();
  EXPECT_EQ(StartAgent(), kExitHandOff);
  EXPECT_FALSE(requested("agent_exe.aspx?program="));
  std::string list = ReadFile(h.UpdatePath("mailbeacon_download.ini"));
  EXPECT_NE(list.find("[EXPRESS_DOWNLOAD]\r\nTOTAL_FILES=2"), std::string::npos) << list;
  EXPECT_EQ(list.find("AGENT_DOWNLOAD"), std::string::npos) << list;
  EXPECT_EQ(ReadFile(h.install + "/SwiftPatcher_Mailbeacon.exe"), "updater 1.0");

  agent[1].target_dir = ".";
  express[1].target_dir = "sub";
  PublishHealthy();
  server.ClearRequests();
  EXPECT_EQ(StartAgent(), kExitHandOff);
  EXPECT_FALSE(requested("express_exe.aspx?program="));
  list = ReadFile(h.UpdatePath("mailbeacon_download.ini"));
  EXPECT_EQ(list.find("EXPRESS_DOWNLOAD"), std::string::npos) << list;
  EXPECT_NE(list.find("[AGENT_DOWNLOAD]\r\nTOTAL_FILES=1"), std::string::npos) << list;
  EXPECT_EQ(ReadFile(h.install + "/SwiftPatcher_Mailbeacon.exe"), agent[0].body);
}

std::string Cp949(const std::string& utf8) { return posix::IconvCodePage(949).ToAnsi(utf8); }

// A Korean name travels as CP949 in the manifest and as its numeric
// encoding in the URL, and is stored under its own name.
TEST_F(FaultyManifest, KoreanNameInCp949IsFetchedUnderItsName) {
  const std::string name = "한글 도움말.txt";
  express.push_back({name, "도움말 본문", name, ".", "1.1"});
  std::string m = ManifestText("1.1", express);
  m.replace(m.find("NAME=" + name), 5 + name.size(), "NAME=" + Cp949(name));
  m.replace(m.find("ORG_NAME=" + name), 9 + name.size(), "ORG_NAME=" + Cp949(name));
  server.Serve(kExpressManifest, m);
  server.Serve(ExpressFile(name), "도움말 본문");
  EXPECT_EQ(h.RunAgent(1), kExitHandOff);
  EXPECT_EQ(ReadFile(h.UpdatePath(name)), "도움말 본문");
}

// Bytes that are no CP949 text (a lone lead byte, a lead byte before a
// space) become U+FFFD, which the code page cannot spell again: the pass
// fails before anything is fetched, nothing named after them is left.
TEST_F(FaultyManifest, BrokenCp949NamesFailTheirDownloadOnly) {
  AgentUpToDate();
  for (const std::string name : {"abc\xc7", "\x81 x.dll", "\xff\xfe\xfd"}) {
    server.Serve(kExpressManifest, ExpressSection("1", name, name));
    const auto before = Snapshot(h.dir.path());
    EXPECT_EQ(StartAgent(), -1);
    EXPECT_EQ(h.windows.statuses.back(), "Downloading failure..");
    ExpectNoHarm(before);
  }
  ExpectRecovers();
}

}  // namespace
}  // namespace mb::test
