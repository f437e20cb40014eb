// The updater's journal: its text survives every byte a path or a value can
// hold, a text that is not a whole journal is never taken for one, and the
// start after a crash makes the component whole in each state the crash
// can leave it in.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "faults/fault_wrappers.h"
#include "helpers/temp_dir.h"
#include "install/install_journal.h"
#include "platform/posix/posix_filesystem.h"
#include "platform/posix/posix_profile_store.h"
#include "platform/temporary_names.h"

namespace mb::test {
namespace {

namespace fs = std::filesystem;

TEST(InstallJournal, TextKeepsEveryByteAndRefusesWhatIsNotAWholeJournal) {
  InstallJournal j;
  j.state = JournalState::kCommitting;
  j.component = "EXPRESS_DOWNLOAD";
  j.release = "1.0\t6 % \xB0";
  j.swaps = {{"C:\\a\tb\\\r\n", "x%41.dll", "C:\\upd\\x.dll", "Ab12Cd", true},
             {"/tmp/\x7F", "", "", "000000", false}};
  j.record = {{"[sec]", "VERSION", "v=1 \xC7\xD1"}};
  j.leftovers = {"/p/.x.dll.aside-ZZ99zz", "%%"};
  const std::string text = FormatJournal(j);
  const std::optional<InstallJournal> back = ParseJournal(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->state, j.state);
  EXPECT_EQ(back->component, j.component);
  EXPECT_EQ(back->release, j.release);
  ASSERT_EQ(back->swaps.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(back->swaps[i].dir, j.swaps[i].dir);
    EXPECT_EQ(back->swaps[i].name, j.swaps[i].name);
    EXPECT_EQ(back->swaps[i].source, j.swaps[i].source);
    EXPECT_EQ(back->swaps[i].tag, j.swaps[i].tag);
    EXPECT_EQ(back->swaps[i].existed, j.swaps[i].existed);
  }
  EXPECT_EQ(back->record, j.record);
  EXPECT_EQ(back->leftovers, j.leftovers);

  const std::string header = "MAILBEACON-INSTALL-JOURNAL 1\n";
  const struct {
    const char* why;
    std::string text;
  } broken[] = {
      {"empty", ""},
      {"cut before its end line", text.substr(0, text.size() - 4)},
      {"cut inside a line", text.substr(0, text.size() / 2)},
      {"text after the end", text + "STATE\tidle\n"},
      {"another header", "MAILBEACON-INSTALL-JOURNAL 2\nEND\n"},
      {"an unknown line", header + "NOTE\tx\nEND\n"},
      {"an unknown state", header + "STATE\thalf\nEND\n"},
      {"a swap of four fields", header + "SWAP\t1\tAb12Cd\tC:\\d\tx.dll\nEND\n"},
      {"a swap that is neither 0 nor 1", header + "SWAP\t2\tt\td\tn\ts\nEND\n"},
      {"an escape of one digit", header + "LEFTOVER\tab%4\nEND\n"},
      {"an escape that is no hex", header + "LEFTOVER\t%G0\nEND\n"},
      {"lower-case hex", header + "LEFTOVER\t%0a\nEND\n"},
  };
  for (const auto& b : broken) EXPECT_FALSE(ParseJournal(b.text)) << b.why;
}

// A component of three files as a crash can leave it: the install folder
// with the old files a.dll, b.dll, c.dll (and a backup of c), the new ones
// staged beside them; then each test takes it to one state.
class JournalRecovery : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void Fresh() {
    fs::remove_all(dir());
    fs::create_directories(update());
    for (const char* name : {"a.dll", "b.dll", "c.dll"}) {
      WriteFile(dir() / name, std::string("old ") + name);
      WriteFile(update() / name, std::string("new ") + name);
    }
    WriteFile(dir() / "c.dll_old", "older c.dll");
    journal.component = "EXPRESS_DOWNLOAD";
    journal.release = "1.1";
    const std::string d = dir().string();
    journal.swaps = {{d, "a.dll", Update("a.dll"), "AAAAAA", true},
                     {d, "c.dll_old", d + "/c.dll", "CCCCC1", true},
                     {d, "c.dll", Update("c.dll"), "CCCCC2", true},
                     {d, "new.dll", Update("b.dll"), "NNNNNN", false}};
    journal.record = {{"a.dll", "VERSION", "1.1"}, {"EXPRESS_DOWNLOAD", "INSTALL_VERSION", "1.1"}};
    for (const FileSwap& s : journal.swaps) StageSwap(posix, s);
  }
  fs::path dir() const { return tmp.path() / "inst"; }
  fs::path update() const { return dir() / "update"; }
  std::string Update(const std::string& name) const { return (update() / name).string(); }
  fs::path Journal() const { return update() / "install_journal.txt"; }
  void Write(JournalState state) {
    journal.state = state;
    WriteJournal(posix, update().string(), journal);
  }
  std::vector<std::string> Recover(platform::FileSystem& with) {
    return RecoverInstall(with, profiles, update().string());
  }
  // The install folder's files with their bytes; hidden ones by name only.
  std::map<std::string, std::string> Folder() const {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(dir())) {
      if (!e.is_regular_file()) continue;
      const std::string name = e.path().filename().string();
      files[name] = name[0] == '.' ? "" : ReadFile(e.path());
    }
    return files;
  }
  const std::map<std::string, std::string> kOld{{"a.dll", "old a.dll"},
                                                {"b.dll", "old b.dll"},
                                                {"c.dll", "old c.dll"},
                                                {"c.dll_old", "older c.dll"}};

  TempDir tmp;
  posix::PosixFileSystem posix;
  posix::PosixProfileStore profiles;
  InstallJournal journal;
};

TEST_F(JournalRecovery, CutWhileStagingLeavesNothingStaged) {
  // A copy to a staged name that the crash cut off.
  WriteFile(dir() / platform::TemporaryName(".new.dll.stage-NNNNNN", platform::TemporaryKind::kCopy,
                                            "Xy12Zw"),
            "half");
  fs::remove(dir() / ".new.dll.stage-NNNNNN");
  Write(JournalState::kStaging);
  const std::vector<std::string> log = Recover(posix);
  EXPECT_EQ(Folder(), kOld);
  EXPECT_FALSE(fs::exists(Journal()));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], "Install of [EXPRESS_DOWNLOAD] 1.1 was cut off before any file changed");
}

// Cut during the swaps: a.dll and the backup of c swapped in, c.dll
// renamed aside with its new copy not yet in, new.dll not begun. Every file
// goes back; so it does when the start after the crash is cut off itself
// half-way through putting them back.
TEST_F(JournalRecovery, CutWhileSwappingPutsEveryFileBack) {
  for (JournalState state : {JournalState::kCommitting, JournalState::kRollingBack}) {
    Fresh();
    CommitSwap(posix, journal.swaps[0]);
    CommitSwap(posix, journal.swaps[1]);
    posix.Rename(journal.swaps[2].Target(), journal.swaps[2].Aside());
    if (state == JournalState::kRollingBack) UndoSwap(posix, journal.swaps[0]);
    Write(state);
    const std::vector<std::string> log = Recover(posix);
    EXPECT_EQ(Folder(), kOld);
    EXPECT_FALSE(fs::exists(Journal()));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "Install of [EXPRESS_DOWNLOAD] 1.1 was cut off : every file was put back");
  }
}

// Cut after every file was in place: the record gets the release, the old
// files go; one still held by a program stays a leftover, which a later
// start removes once it is free.
TEST_F(JournalRecovery, CutAfterTheSwapsCompletesTheInstall) {
  for (const FileSwap& s : journal.swaps) CommitSwap(posix, s);
  Write(JournalState::kCommitted);
  FaultyFileSystem held(posix);
  const std::string aside_a = journal.swaps[0].Aside();
  held.rule = [&](FsCall call, const std::string& p) {
    return call == FsCall::kDeleteFile && p == aside_a ? ETXTBSY : 0;
  };
  const std::vector<std::string> log = Recover(held);
  EXPECT_EQ(Folder(), (std::map<std::string, std::string>{{"a.dll", "new a.dll"},
                                                           {"b.dll", "old b.dll"},
                                                           {"c.dll", "new c.dll"},
                                                           {"c.dll_old", "old c.dll"},
                                                           {"new.dll", "new b.dll"},
                                                           {".a.dll.aside-AAAAAA", ""}}));
  EXPECT_EQ(ReadFile(update() / "install_version.ini"),
            "[a.dll]\r\nVERSION=1.1\r\n[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.1\r\n");
  EXPECT_EQ(log, std::vector<std::string>{"Install of [EXPRESS_DOWNLOAD] 1.1 completed"});
  EXPECT_EQ(JournalLeftovers(posix, update().string()), std::vector<std::string>{aside_a});

  EXPECT_TRUE(Recover(posix).empty());
  EXPECT_FALSE(fs::exists(aside_a));
  EXPECT_FALSE(fs::exists(Journal()));
}

TEST_F(JournalRecovery, AMalformedJournalIsSaidAndRemoved) {
  WriteFile(Journal(), "MAILBEACON-INSTALL-JOURNAL 1\nSTATE\tcommitting\n");
  EXPECT_EQ(Recover(posix), std::vector<std::string>{"Install journal malformed : removed"});
  EXPECT_FALSE(fs::exists(Journal()));
}

}  // namespace
}  // namespace mb::test
