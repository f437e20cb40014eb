// The updater stand-in, run as the real program in temporary install
// directories: files put in place with backups, the release recorded, bad
// lists refused untouched, a cut-off run finished by the next one, and the
// wait for the agent.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "helpers/temp_dir.h"

namespace mb::test {
namespace {

namespace fs = std::filesystem;

struct Entry {
  std::string name, org_name,
      target_dir;  // target_dir relative to the install dir
  std::string back_up = "YES";
};
struct Component {
  std::string section, prefix;  // "OUTLOOK_DOWNLOAD", "OUTLOOK_FILE_"
  std::vector<Entry> entries;
};

// One install directory with the updater copied into it.
class Install {
 public:
  Install() {
    fs::create_directories(update());
    fs::copy_file(fs::path(MB_BIN_DIR) / "SwiftPatcher_Mailbeacon.exe",
                  dir() / "SwiftPatcher_Mailbeacon.exe");
  }
  fs::path dir() const { return tmp_.path() / "inst"; }
  fs::path update() const { return dir() / "update"; }
  fs::path list() const { return update() / "mailbeacon_download.ini"; }
  // A path below the install directory in the agent's form; "=text" is
  // text as written.
  std::string AgentPath(const std::string& rel) const {
    if (rel.starts_with("=")) return rel.substr(1);
    return rel.empty() ? dir().string() : dir().string() + "\\" + rel;
  }

  // The list as the agent writes it (CRLF, ANSI bytes as given).
  void WriteList(const std::vector<Component>& components, const std::string& total = "") const {
    std::string ini;
    for (const Component& c : components) {
      ini += "[" + c.section +
             "]\r\nTOTAL_FILES=" + (total.empty() ? std::to_string(c.entries.size()) : total) +
             "\r\n";
      for (std::size_t k = 0; k < c.entries.size(); ++k) {
        const Entry& e = c.entries[k];
        ini += "[" + c.prefix + std::to_string(k + 1) + "]\r\nNAME=" + e.name +
               "\r\nVERSION=1\r\nORG_NAME=" + e.org_name +
               "\r\nTARGET_DIR=" + AgentPath(e.target_dir) +
               "\r\nSELF_REGISTER=N\r\nBACK_UP=" + e.back_up + "\r\n";
      }
    }
    WriteFile(list(), ini);
  }

  // Runs the updater as the agent starts it; its parent is not the agent,
  // so it does not wait. Returns the exit status.
  int Run(const std::string& env = "") const {
    const std::string cmd = "cd '" + dir().string() + "' && " + env +
                            " ./SwiftPatcher_Mailbeacon.exe Mailbeacon_Shell 2>/dev/null";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    if (!fs::exists(update() / "update_log.txt")) return lines;
    const std::string log = ReadFile(update() / "update_log.txt");
    for (std::size_t pos = 0, end; (end = log.find("\r\n", pos)) != std::string::npos;
         pos = end + 2) {
      lines.push_back(log.substr(pos, end - pos));
    }
    return lines;
  }

 private:
  TempDir tmp_;
};

const std::regex kStamped(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] .*)");

Component Outlook(std::vector<Entry> e) {
  return {"OUTLOOK_DOWNLOAD", "OUTLOOK_FILE_", std::move(e)};
}
Component Agent(std::vector<Entry> e) { return {"AGENT_DOWNLOAD", "AGENT_FILE_", std::move(e)}; }

TEST(UpdaterTest, AppliesListWithBackupsRecordsReleaseAndCleansUp) {
  Install in;
  WriteFile(in.dir() / "addin/Addin.dll", "old addin");
  WriteFile(in.dir() / "Help.txt", "old help");
  WriteFile(in.update() / "Addin_2.dll", "new addin");
  WriteFile(in.update() / "Help.txt", "new help");
  WriteFile(in.update() / "Extra.dat", "extra");
  WriteFile(in.update() / "Agent_2", "new agent");
  WriteFile(in.update() / "Mailbeacon_Update_Notice.txt", "notice");
  WriteFile(in.update() / "install_version.ini",
            "[OUTLOOK_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\nLAST_VERSION=2.0\r\n"
            "[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=e1\r\nLAST_VERSION=e2\r\n"
            "[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=7\r\nLAST_VERSION=8\r\n");
  in.WriteList({Outlook({{"Addin_2.dll", "Addin.dll", "addin"},
                         {"Help.txt", "Help.txt", "", "NO"},
                         {"Extra.dat", "Extra.dat", "data\\deep\\er"}}),
                Agent({{"Agent_2", "Mailbeacon", ""}})});

  ASSERT_EQ(in.Run(), 0);
  EXPECT_EQ(ReadFile(in.dir() / "addin/Addin.dll"), "new addin");
  EXPECT_EQ(ReadFile(in.dir() / "addin/Addin.dll_old"), "old addin");
  EXPECT_EQ(ReadFile(in.dir() / "Help.txt"), "new help");
  EXPECT_FALSE(fs::exists(in.dir() / "Help.txt_old"));  // BACK_UP=NO
  EXPECT_EQ(ReadFile(in.dir() / "data/deep/er/Extra.dat"), "extra");
  EXPECT_EQ(ReadFile(in.dir() / "Mailbeacon"), "new agent");
  EXPECT_FALSE(fs::exists(in.dir() / "Mailbeacon_old"));  // nothing to back up
  EXPECT_NE(fs::status(in.dir() / "Mailbeacon").permissions() & fs::perms::owner_exec,
            fs::perms::none);

  // Handed-over releases become installed; a component not in the list keeps
  // its own. Each file's version is recorded under its installed name.
  EXPECT_EQ(ReadFile(in.update() / "install_version.ini"),
            "[OUTLOOK_DOWNLOAD]\r\nINSTALL_VERSION=2.0\r\nLAST_VERSION=2.0\r\n"
            "[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=e1\r\nLAST_VERSION=e2\r\n"
            "[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=8\r\nLAST_VERSION=8\r\n"
            "[Addin.dll]\r\nVERSION=1\r\n[Help.txt]\r\nVERSION=1\r\n"
            "[Extra.dat]\r\nVERSION=1\r\n[Mailbeacon]\r\nVERSION=1\r\n");

  EXPECT_FALSE(fs::exists(in.list()));
  for (const char* copy : {"Addin_2.dll", "Help.txt", "Extra.dat", "Agent_2"}) {
    EXPECT_FALSE(fs::exists(in.update() / copy)) << copy;
  }
  EXPECT_TRUE(fs::exists(in.update() / "Mailbeacon_Update_Notice.txt"));

  const auto lines = in.LogLines();
  ASSERT_EQ(lines.size(), 4u);
  for (const auto& line : lines) EXPECT_TRUE(std::regex_match(line, kStamped)) << line;
  EXPECT_NE(lines[0].find("] Installed : " + in.AgentPath("addin\\Addin.dll") +
                          " (previous copy kept as Addin.dll_old)"),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[3].find("Installed : " + in.AgentPath("Mailbeacon")), std::string::npos)
      << lines[3];

  EXPECT_EQ(in.Run(), 0);  // nothing left to do
  EXPECT_EQ(in.LogLines().size(), 4u);
}

TEST(UpdaterTest, WithoutTheAgentsArgumentDoesNothing) {
  Install in;
  WriteFile(in.update() / "A.dll", "new");
  in.WriteList({Outlook({{"A.dll", "A.dll", ""}})});
  const std::string cmd =
      "cd '" + in.dir().string() + "' && ./SwiftPatcher_Mailbeacon.exe 2>/dev/null";
  const int status = std::system(cmd.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_FALSE(fs::exists(in.dir() / "A.dll"));
  EXPECT_TRUE(fs::exists(in.list()));
}

// Every bad list is refused as a whole: even its good first entry is not
// applied.
TEST(UpdaterTest, RefusesUnsafeOrInconsistentListsBeforeApplyingAnything) {
  struct Case {
    const char* why;
    const char* reason;  // in the log line
    Entry bad;
    std::string total = "";
  };
  const std::vector<Case> cases = {
      {"traversal in NAME", "NAME \"..\\Good.dll\" is no file name", {"..\\Good.dll", "X.dll", ""}},
      {"separator in ORG_NAME",
       "ORG_NAME \"sub/X.dll\" is no file name",
       {"Bad.dll", "sub/X.dll", ""}},
      {"ORG_NAME ..", "is no file name", {"Bad.dll", "..", ""}},
      {"ORG_NAME .", "is no file name", {"Bad.dll", ".", ""}},
      {"empty NAME", "NAME \"\" is no file name", {"", "X.dll", ""}},
      {"absolute ORG_NAME", "is no file name", {"Bad.dll", "C:\\X.dll", ""}},
      {"ORG_NAME Windows forbids", "character Windows forbids", {"Bad.dll", "q?.dll", ""}},
      {"ORG_NAME a device", "device name", {"Bad.dll", "nul.txt", ""}},
      {"ORG_NAME ending in a dot", "ends in a space or a dot", {"Bad.dll", "X.dll.", ""}},
      {"hidden NAME", "begins with a dot", {".Bad.dll", "X.dll", ""}},
      {"NAME of the agent's own file", "agent's own files", {"Install_Version.ini", "X.dll", ""}},
      {"NAME like a backup", "named like a backup", {"Bad.dll_old", "X.dll", ""}},
      {"target in the update folder", "update folder", {"Bad.dll", "Bad.dll", "update"}},
      {"NAME listed twice", "file listed twice", {"Good.dll", "Other.dll", ""}},
      {"target listed twice (case folded)", "target listed twice", {"Bad.dll", "GOOD.DLL", ""}},
      {"target listed twice (. and .. applied)",
       "target listed twice",
       {"Bad.dll", "GOOD.DLL", "sub\\..\\."}},
      {"target on another's backup", "another file's backup", {"Bad.dll", "Good.dll_old", ""}},
      {"missing source", "is missing", {"Missing.dll", "X.dll", ""}},
      {"relative TARGET_DIR", "not absolute", {"Bad.dll", "X.dll", "=rel"}},
      {"drive TARGET_DIR (no drives on POSIX)", "not absolute", {"Bad.dll", "X.dll", "=C:\\X"}},
      {"TARGET_DIR .x", "not absolute", {"Bad.dll", "X.dll", "=.x"}},
      {"TOTAL_FILES not a number", "not a file count", {"Bad.dll", "X.dll", ""}, "2x"},
      {"TOTAL_FILES negative", "not a file count", {"Bad.dll", "X.dll", ""}, "-2"},
      {"TOTAL_FILES beyond the sections",
       "NAME \"\" is no file name",
       {"Bad.dll", "X.dll", ""},
       "3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Install in;
    WriteFile(in.update() / "Good.dll", "good");
    WriteFile(in.update() / "Bad.dll", "bad");
    in.WriteList({Outlook({{"Good.dll", "Good.dll", ""}}), Agent({c.bad})}, c.total);
    const std::string list_before = ReadFile(in.list());

    EXPECT_EQ(in.Run(), 2);
    EXPECT_FALSE(fs::exists(in.dir() / "Good.dll"));
    EXPECT_EQ(ReadFile(in.list()), list_before);
    EXPECT_TRUE(fs::exists(in.update() / "Good.dll"));
    const auto lines = in.LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("] Update refused : "), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(c.reason), std::string::npos) << lines[0];
  }
}

// What a crash of an earlier run left beside a target (the temporary of a
// copy or of its backup) goes when the file is put in place again; fresh
// ones (another run may be writing them) and other hidden files stay.
TEST(UpdaterTest, StaleTemporariesOfACrashAreRemoved) {
  Install in;
  WriteFile(in.update() / "A_2.dll", "new");
  WriteFile(in.dir() / "A.dll", "old");
  auto aged = [&](const std::string& name, int seconds) {
    WriteFile(in.dir() / name, "partial");
    fs::last_write_time(in.dir() / name,
                        fs::file_time_type::clock::now() - std::chrono::seconds(seconds));
  };
  aged(".A.dll.Ab12Cd", 3600);
  aged(".A.dll_old.Cd34Ef", 3600);
  aged(".A.dll.Fresh1", 5);
  aged(".A.dll.settings", 3600);
  in.WriteList({Outlook({{"A_2.dll", "A.dll", ""}})});
  ASSERT_EQ(in.Run(), 0);
  EXPECT_EQ(ReadFile(in.dir() / "A.dll"), "new");
  EXPECT_FALSE(fs::exists(in.dir() / ".A.dll.Ab12Cd"));
  EXPECT_FALSE(fs::exists(in.dir() / ".A.dll_old.Cd34Ef"));
  EXPECT_TRUE(fs::exists(in.dir() / ".A.dll.Fresh1"));
  EXPECT_TRUE(fs::exists(in.dir() / ".A.dll.settings"));
}

// Folders written from the top of the tree ("\dir"), as a share
// ("\\tmp\x\dir" is /tmp/x/dir here) or inside the install folder (".",
// ".\dir", as the agent lists them when the code page cannot hold the
// install folder's path) are made below their root and used.
TEST(UpdaterTest, RootedSharedAndInstallRelativeFolders) {
  Install in;
  std::string top = in.dir().string();
  std::replace(top.begin(), top.end(), '/', '\\');
  for (const char* name : {"A.dll", "B.dll", "C.dll", "D.dll"}) WriteFile(in.update() / name, name);
  in.WriteList({Outlook({{"A.dll", "A.dll", "=" + top + "\\rooted"},
                         {"B.dll", "B.dll", "=\\" + top + "\\shared\\deep"},
                         {"C.dll", "C.dll", "=.\\inside"},
                         {"D.dll", "D.dll", "=."}})});
  ASSERT_EQ(in.Run(), 0) << in.LogLines().back();
  EXPECT_EQ(ReadFile(in.dir() / "rooted" / "A.dll"), "A.dll");
  EXPECT_EQ(ReadFile(in.dir() / "shared" / "deep" / "B.dll"), "B.dll");
  EXPECT_EQ(ReadFile(in.dir() / "inside" / "C.dll"), "C.dll");
  EXPECT_EQ(ReadFile(in.dir() / "D.dll"), "D.dll");
}

// A run cut off after its first file: the next run finishes the list and
// keeps the first file's backup of the original, not of the new file.
TEST(UpdaterTest, RunAfterACrashFinishesTheListAndKeepsGoodBackups) {
  Install in;
  WriteFile(in.dir() / "A.dll", "A new");       // already replaced
  WriteFile(in.dir() / "A.dll_old", "A orig");  // its backup
  WriteFile(in.dir() / "B.dll", "B orig");
  WriteFile(in.update() / "A2.dll", "A new");
  WriteFile(in.update() / "B2.dll", "B new");
  WriteFile(in.update() / "install_version.ini", "[OUTLOOK_DOWNLOAD]\r\nLAST_VERSION=3\r\n");
  in.WriteList({Outlook({{"A2.dll", "A.dll", ""}, {"B2.dll", "B.dll", ""}})});

  ASSERT_EQ(in.Run(), 0);
  EXPECT_EQ(ReadFile(in.dir() / "A.dll_old"), "A orig");
  EXPECT_EQ(ReadFile(in.dir() / "B.dll_old"), "B orig");
  EXPECT_EQ(ReadFile(in.dir() / "B.dll"), "B new");
  EXPECT_NE(ReadFile(in.update() / "install_version.ini").find("INSTALL_VERSION=3\r\n"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(in.list()));
}

// A file that cannot be put in place stops its component before anything
// of it changed: the other files stay as they were, the list and the copies
// stay, the release is not recorded, the outcome says which file failed;
// once the obstacle is gone a new run completes.
TEST(UpdaterTest, IoFailureLeavesTheComponentAsItWasAndTheListForALaterRun) {
  Install in;
  WriteFile(in.dir() / "blocked", "a file where a folder is needed");
  WriteFile(in.dir() / "A.dll", "A old");
  WriteFile(in.update() / "A.dll", "A new");
  WriteFile(in.update() / "B.dll", "B new");
  WriteFile(in.update() / "install_version.ini", "[OUTLOOK_DOWNLOAD]\r\nLAST_VERSION=3\r\n");
  in.WriteList({Outlook({{"A.dll", "A.dll", ""}, {"B.dll", "B.dll", "blocked"}})});

  EXPECT_EQ(in.Run(), 3);
  EXPECT_EQ(ReadFile(in.dir() / "A.dll"), "A old");
  EXPECT_FALSE(fs::exists(in.dir() / "A.dll_old"));
  EXPECT_TRUE(fs::exists(in.list()));
  EXPECT_TRUE(fs::exists(in.update() / "A.dll"));
  EXPECT_EQ(ReadFile(in.update() / "install_version.ini").find("INSTALL_VERSION"),
            std::string::npos);
  for (const auto& e : fs::directory_iterator(in.dir())) {
    EXPECT_NE(e.path().filename().string()[0], '.') << "left behind: " << e.path();
  }
  const std::vector<std::string> lines = in.LogLines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.find("] Update stopped at " + in.AgentPath("blocked\\B.dll")) != std::string::npos;
  }));
  EXPECT_NE(lines.back().find("[OUTLOOK_DOWNLOAD] 3 not installed, its files are as they were"),
            std::string::npos)
      << lines.back();
  const std::string outcome = ReadFile(in.update() / "install_outcome.ini");
  EXPECT_NE(outcome.find("[OUTLOOK_DOWNLOAD]\r\nRELEASE=3\r\nRESULT=failed\r\nREASON=io\r\nFILE=" +
                         in.AgentPath("blocked\\B.dll") + "\r\n"),
            std::string::npos)
      << outcome;

  fs::remove(in.dir() / "blocked");
  EXPECT_EQ(in.Run(), 0);
  EXPECT_EQ(ReadFile(in.dir() / "A.dll"), "A new");
  EXPECT_EQ(ReadFile(in.dir() / "A.dll_old"), "A old");
  EXPECT_EQ(ReadFile(in.dir() / "blocked/B.dll"), "B new");
  EXPECT_FALSE(fs::exists(in.list()));
  EXPECT_NE(ReadFile(in.update() / "install_outcome.ini").find("RESULT=installed"),
            std::string::npos);
}

// An update folder that is full (a 64 KiB tmpfs, filled up) cannot take the
// updater's journal: nothing is installed, and nothing is reported as
// installed; the list stays.
TEST(UpdaterTest, AFullUpdateFolderInstallsNothingAndKeepsTheList) {
  Install in;
  if (mount("tmpfs", in.update().c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  WriteFile(in.update() / "A.dll", "A new");
  WriteFile(in.update() / "install_version.ini", "[OUTLOOK_DOWNLOAD]\r\nLAST_VERSION=3\r\n");
  in.WriteList({Outlook({{"A.dll", "A.dll", ""}})});
  {
    std::ofstream filler(in.update() / "filler", std::ios::binary);
    const std::string block(512, 'f');
    while (filler.write(block.data(), block.size()) && filler.flush()) {
    }
  }
  const int status = in.Run();
  const std::string record = ReadFile(in.update() / "install_version.ini");
  const bool list_kept = fs::exists(in.list());
  umount2(in.update().c_str(), MNT_DETACH);
  EXPECT_EQ(status, 3);
  EXPECT_FALSE(fs::exists(in.dir() / "A.dll"));
  EXPECT_EQ(record.find("INSTALL_VERSION"), std::string::npos) << record;
  EXPECT_TRUE(list_kept);
}

// Names are read in the system ANSI code page. In code page 932 the second
// byte of "ソ" is 0x5C, the byte of "\": it must not count as a separator.
TEST(UpdaterTest, ReadsNamesInTheAnsiCodePage) {
  Install in;
  const std::string utf8_name = "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88.dll";  // "ソフト.dll"
  const std::string cp932_name = "\x83\x5C\x83\x74\x83\x67.dll";
  WriteFile(in.update() / utf8_name, "payload");
  in.WriteList({Outlook({{cp932_name, cp932_name, ""}})});

  ASSERT_EQ(in.Run("LC_ALL=ja_JP.UTF-8"), 0);
  EXPECT_EQ(ReadFile(in.dir() / utf8_name), "payload");
  ASSERT_EQ(in.LogLines().size(), 1u);
  EXPECT_NE(in.LogLines()[0].find(cp932_name),
            std::string::npos);  // the log is ANSI too
}

// The agent starts the updater as its child and ends. A stand-in agent (a
// script named like the agent) checks that nothing was applied while it ran.
TEST(UpdaterTest, WaitsForTheAgentToEnd) {
  Install in;
  WriteFile(in.update() / "A.dll", "new");
  in.WriteList({Outlook({{"A.dll", "A.dll", ""}})});
  WriteFile(in.dir() / "Mailbeacon",
            "#!/bin/sh\n./SwiftPatcher_Mailbeacon.exe Mailbeacon_Shell &\nsleep 0.5\n"
            "[ -e update/mailbeacon_download.ini ] && echo still-listed > "
            "seen.txt\nexit 0\n");
  fs::permissions(in.dir() / "Mailbeacon", fs::perms::owner_all);
  ASSERT_EQ(std::system(("cd '" + in.dir().string() + "' && ./Mailbeacon").c_str()), 0);

  for (int i = 0; i < 200 && fs::exists(in.list()); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(ReadFile(in.dir() / "seen.txt"), "still-listed\n");
  EXPECT_FALSE(fs::exists(in.list()));
  EXPECT_EQ(ReadFile(in.dir() / "A.dll"), "new");
}

TEST(UpdaterTest, GivesUpWhenTheAgentDoesNotEnd) {
  Install in;
  WriteFile(in.update() / "A.dll", "new");
  in.WriteList({Outlook({{"A.dll", "A.dll", ""}})});
  WriteFile(in.dir() / "Mailbeacon",
            "#!/bin/sh\nMAILBEACON_UPDATER_WAIT_MS=200 "
            "./SwiftPatcher_Mailbeacon.exe Mailbeacon_Shell\n"
            "echo $? > status.txt\n");
  fs::permissions(in.dir() / "Mailbeacon", fs::perms::owner_all);
  ASSERT_EQ(std::system(("cd '" + in.dir().string() + "' && ./Mailbeacon").c_str()), 0);

  EXPECT_EQ(ReadFile(in.dir() / "status.txt"), "4\n");
  EXPECT_TRUE(fs::exists(in.list()));
  EXPECT_FALSE(fs::exists(in.dir() / "A.dll"));
  ASSERT_EQ(in.LogLines().size(), 1u);
  EXPECT_NE(in.LogLines()[0].find("] Update not started : "), std::string::npos);
}

}  // namespace
}  // namespace mb::test
