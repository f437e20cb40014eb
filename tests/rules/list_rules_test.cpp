// The rules the agent, the updater and the server share: which names a
// release may use, which spellings Windows takes for one file, and when two
// listed files meet.
#include <gtest/gtest.h>

#include "rules/list_rules.h"
#include "rules/safe_names.h"

namespace mb {
namespace {

TEST(SharedRules, FileNamesAReleaseMayUse) {
  for (const char* ok : {"a.dll", "a..b.dll", "Mailbeacon.exe", "x.dll_old", "icon.dll",
                         "comma,semi;.txt", "\xEB\xA9\x94\xEC\x9D\xBC.dll", "COM0", "lpt10"}) {
    EXPECT_EQ(FileNameProblem(ok), std::nullopt) << ok;
  }
  for (const char* bad :
       {"",       ".",        "..",     "a\\b",      "a/b",      "c:x",      "q?.dll",   "a*.dll",
        "a<b",    "a|b",      "a\"b",   "tab\there", "CON",      "nul.txt",  "Com1.log", "lpt9",
        "conin$", "nul .txt", "x.dll.", "x.dll ",    ".dotfile", " lead.dll"}) {
    EXPECT_NE(FileNameProblem(bad), std::nullopt) << bad;
  }
}

TEST(SharedRules, OneSpellingForWhatWindowsTakesForOneFile) {
  EXPECT_EQ(FoldedPath("C:\\Prog\\X.DLL"), "c:/prog/x.dll");
  EXPECT_EQ(FoldedPath("c:/prog//sub/../x.dll"), "c:/prog/x.dll");
  EXPECT_EQ(FoldedPath("C:\\Prog.\\.\\x.dll "), "c:/prog/x.dll");
  EXPECT_EQ(FoldedPath("\\\\Srv\\Share\\dir\\"), "//srv/share/dir");
  EXPECT_EQ(FoldedPath("\\dir\\..\\..\\x"), "/x");  // not above the root
  EXPECT_EQ(FoldedPath("/opt/mb/../mb/update"), "/opt/mb/update");
  EXPECT_EQ(FoldedPath("rel\\..\\..\\x"), "../x");
}

TEST(SharedRules, ListedFilesThatMeetOrMayNotBeListed) {
  const std::string update = "C:\\App\\update";
  EXPECT_EQ(ListedFileProblem({"a.dll", "a.dll", "C:\\App"}, update), std::nullopt);
  EXPECT_EQ(ListedFileProblem({"a.dll", "a.dll", "C:\\App\\updates"}, update), std::nullopt);
  for (const ListedFile& bad : std::vector<ListedFile>{
           {"a.dll", "a.dll", "c:\\app\\UPDATE\\"},
           {"a.dll", "a.dll", "C:\\App\\update\\sub"},
           {"a.dll", "a.dll", "C:\\App\\x\\..\\update"},
           {"MAILBEACON_DOWNLOAD.INI", "a.dll", "C:\\App"},
           {"a.dll_OLD", "a.dll", "C:\\App"},
           {"a.dll", "nul", "C:\\App"},
       }) {
    EXPECT_NE(ListedFileProblem(bad, update), std::nullopt) << bad.name << " " << bad.target_dir;
  }

  ListedFiles listed;
  listed.Add({"a.new", "a.dll", "C:\\App"}, "first");
  EXPECT_FALSE(listed.Meets({"b.new", "b.dll", "C:\\App"}));
  const std::pair<ListedFile, Clash> meets[] = {
      {{"A.NEW", "c.dll", "C:\\Other"}, Clash::kSameCopy},
      {{"b.new", "A.DLL", "c:\\app\\"}, Clash::kSameTarget},
      {{"b.new", "a.dll_old", "C:\\App"}, Clash::kOnBackup},
  };
  for (const auto& [f, clash] : meets) {
    const auto met = listed.Meets(f);
    ASSERT_TRUE(met) << f.name;
    EXPECT_EQ(met->clash, clash) << f.name;
    EXPECT_EQ(met->with, "first");
  }
  listed.Add({"b.new", "b.dll_old", "C:\\App"}, "second");
  const auto met = listed.Meets({"c.new", "B.DLL", "C:\\App"});
  ASSERT_TRUE(met);
  EXPECT_EQ(met->clash, Clash::kHasBackupOn);
  EXPECT_EQ(met->with, "second");
}

}  // namespace
}  // namespace mb
