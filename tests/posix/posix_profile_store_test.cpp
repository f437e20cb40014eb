// Reading and writing rules of the INI store, checked on real files.
#include <sys/stat.h>

#include <filesystem>

#include "tests/posix/profile_test_util.h"

namespace mb::test {
namespace {

using ProfileStoreRead = ProfileStoreFixture;
using ProfileStoreWrite = ProfileStoreFixture;

TEST_F(ProfileStoreRead, NamesMatchWithoutCaseAndBlanksAroundAreTrimmed) {
  const std::string ini = "  [ Download ]  \r\n\t Total_Files \t=\t 3 \t\r\n";
  EXPECT_EQ(ReadFrom(ini, "DOWNLOAD", "TOTAL_FILES"), "3");
  EXPECT_EQ(ReadFrom(ini, " download ", "  total_files "), "3");
}

TEST_F(ProfileStoreRead, MissingFileSectionOrKeyGiveTheDefault) {
  EXPECT_EQ(Get(Path("none.ini"), "S", "k", "dflt"), "dflt");
  EXPECT_EQ(Get(Path("none.ini"), "S", "k"), "");
  const std::string ini = "[S]\r\nk=v\r\n";
  EXPECT_EQ(ReadFrom(ini, "T", "k", "dflt"), "dflt");
  EXPECT_EQ(ReadFrom(ini, "S", "x", "dflt"), "dflt");
  EXPECT_EQ(ReadFrom(ini, "", "k", "dflt"), "dflt");
  EXPECT_EQ(ReadFrom(ini, "S", "", "dflt"), "dflt");
  // Trailing spaces of the default are dropped, as Windows does.
  EXPECT_EQ(ReadFrom(ini, "S", "x", "one two  "), "one two");
}

TEST_F(ProfileStoreRead, MatchingQuotesAreRemoved) {
  const std::string ini =
      "[S]\na=\"quoted\"\nb='single'\nc=\"mixed'\nd=\"\ne=\"\"\nf=\"in\"side\"\n";
  EXPECT_EQ(ReadFrom(ini, "S", "a"), "quoted");
  EXPECT_EQ(ReadFrom(ini, "S", "b"), "single");
  EXPECT_EQ(ReadFrom(ini, "S", "c"), "\"mixed'");
  EXPECT_EQ(ReadFrom(ini, "S", "d"), "\"");
  EXPECT_EQ(ReadFrom(ini, "S", "e"), "");
  EXPECT_EQ(ReadFrom(ini, "S", "f"), "in\"side");
}

TEST_F(ProfileStoreRead, CommentsBareKeysAndOrphanLinesAreNotValues) {
  const std::string ini =
      "orphan=before any section\r\n[S]\r\n;k=commented\r\n  ; x=1\r\nbare\r\n"
      "[]\r\nhidden=1\r\n";
  EXPECT_EQ(ReadFrom(ini, "S", ";k", "d"), "d");
  EXPECT_EQ(ReadFrom(ini, "S", "k", "d"), "d");
  EXPECT_EQ(ReadFrom(ini, "S", "x", "d"), "d");
  // A line without "=" is a key without a value: the default (as Wine).
  EXPECT_EQ(ReadFrom(ini, "S", "bare", "d"), "d");
  EXPECT_EQ(ReadFrom(ini, "S", "hidden", "d"), "d");
  EXPECT_EQ(ReadFrom(ini, "S", "orphan", "d"), "d");
}

TEST_F(ProfileStoreRead, FirstSectionAndFirstKeyWin) {
  const std::string ini = "[S]\nk=first\nk=second\n[s]\nk=third\nother=4\n";
  EXPECT_EQ(ReadFrom(ini, "S", "k"), "first");
  // Like Wine, a repeated section is never consulted.
  EXPECT_EQ(ReadFrom(ini, "S", "other", "d"), "d");
}

TEST_F(ProfileStoreRead, EveryLineEndAndAMissingFinalNewline) {
  for (const std::string eol : {"\r\n", "\n", "\r"}) {
    const std::string ini = "[A]" + eol + "a=1" + eol + eol + "[B]" + eol + "b=2";
    EXPECT_EQ(ReadFrom(ini, "A", "a"), "1") << "eol size " << eol.size();
    EXPECT_EQ(ReadFrom(ini, "B", "b"), "2") << "eol size " << eol.size();
  }
  const std::string mixed = "[A]\ra=1\n[B]\r\nb=2\rc=3";
  EXPECT_EQ(ReadFrom(mixed, "A", "a"), "1");
  EXPECT_EQ(ReadFrom(mixed, "B", "b"), "2");
  EXPECT_EQ(ReadFrom(mixed, "B", "c"), "3");
}

TEST_F(ProfileStoreRead, SectionLineIgnoresTextAfterTheBracket) {
  EXPECT_EQ(ReadFrom("[S] ; note\nk=v\n", "S", "k"), "v");
  // The name runs to the last "]" (Wine), so names holding "]" round-trip.
  EXPECT_EQ(ReadFrom("[a]b.dll]\nk=v\n", "a]b.dll", "k"), "v");
}

TEST_F(ProfileStoreRead, AnsiBytesAndNulsComeBackExactly) {
  const std::string korean = "\xC7\xD1\xB1\xDB";
  EXPECT_EQ(
      ReadFrom("[" + korean + "]\r\n" + korean + "=" + korean + " \xB0\xA1\r\n", korean, korean),
      korean + " \xB0\xA1");
  // A value ends at a NUL byte, as the C strings of the Windows call do.
  EXPECT_EQ(ReadFrom(std::string("[S]\nk=ab\0cd\n", 12), "S", "k"), "ab");
}

TEST_F(ProfileStoreRead, ValueIsCutToTheBuffer) {
  const std::string file = Path("long.ini");
  const std::string value(2000, 'x');
  WriteFile(file, "[S]\r\nk=" + value + "y\r\n");
  EXPECT_EQ(Get(file, "S", "k", "", 1024), std::string(1023, 'x'));
  EXPECT_EQ(Get(file, "S", "k", "", 1), "");
  WriteFile(Path("short.ini"), "[S]\r\nk=val1\r\n");
  EXPECT_EQ(Get(Path("short.ini"), "S", "k", "", 5), "val1");
  EXPECT_EQ(Get(Path("short.ini"), "S", "k", "", 4), "val");
  char untouched[4] = {'z', 'z', 'z', '\0'};
  EXPECT_EQ(store_.GetString("S", "k", "d", untouched, 0, Path("short.ini")), 0u);
  EXPECT_STREQ(untouched, "zzz");
}

TEST_F(ProfileStoreRead, WindowsStylePathIsMapped) {
  WriteFile(Path("w.ini"), "[S]\nk=v\n");
  std::string windows = Path("w.ini");
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  EXPECT_EQ(Get(windows, "S", "k"), "v");
}

TEST_F(ProfileStoreWrite, CreatesTheFileWithCrlfLines) {
  const std::string file = Path("new.ini");
  ASSERT_TRUE(store_.WriteString("App1", "key1", "string1", file));
  ASSERT_TRUE(store_.WriteString("App1", "key2", "string2", file));
  ASSERT_TRUE(store_.WriteString("App2", "key3", "", file));
  EXPECT_EQ(ReadFile(file), "[App1]\r\nkey1=string1\r\nkey2=string2\r\n[App2]\r\nkey3=\r\n");
}

TEST_F(ProfileStoreWrite, NewSectionGoesAtTheEndAfterTerminatingTheLastLine) {
  const std::string file = Path("a.ini");
  WriteFile(file, "[A]\nx=1");
  ASSERT_TRUE(store_.WriteString("B", "k", "v", file));
  EXPECT_EQ(ReadFile(file), "[A]\nx=1\r\n[B]\r\nk=v\r\n");
}

TEST_F(ProfileStoreWrite, NewKeyFollowsTheLastEntryOfItsSection) {
  const std::string file = Path("a.ini");
  WriteFile(file, "[A]\r\na=1\r\n\r\n; note\r\n\r\n[B]\r\nb=1\r\n[C]\n[D]\nd=1");
  ASSERT_TRUE(store_.WriteString("a", "c", "3", file));
  ASSERT_TRUE(store_.WriteString("C", "c", "3", file));
  ASSERT_TRUE(store_.WriteString("D", "e", "5", file));
  EXPECT_EQ(ReadFile(file),
            "[A]\r\na=1\r\nc=3\r\n\r\n; note\r\n\r\n[B]\r\nb=1\r\n[C]\nc=3\r\n[D]\nd=1\r\ne=5\r\n");
}

TEST_F(ProfileStoreWrite, ReplacesInPlaceKeepingKeySpellingAndLineEnd) {
  const std::string file = Path("a.ini");
  WriteFile(file, "[A]\r\n  KeY = \"old\" \nnext=1\r[s]\r\nkey=dup\r\n");
  ASSERT_TRUE(store_.WriteString("A", "key", "new value", file));
  EXPECT_EQ(ReadFile(file), "[A]\r\nKeY=new value\nnext=1\r[s]\r\nkey=dup\r\n");
  EXPECT_EQ(Get(file, "a", "KEY"), "new value");
  // A bare key line becomes key=value; leading blanks of a value are dropped.
  WriteFile(file, "[A]\nbare\n");
  ASSERT_TRUE(store_.WriteString("A", "BARE", "  v", file));
  EXPECT_EQ(ReadFile(file), "[A]\nbare=v\n");
}

TEST_F(ProfileStoreWrite, KeepsEveryByteItWasNotAskedToChange) {
  const std::string file = Path("foreign.ini");
  const std::string head = std::string("junk \0 before\x01\xff\r", 16) + "; comment\n\n" +
                           "[INSTALL]\r\n  Kept = as is ;x\r\n[bad line\r\nraw\r\r\n";
  const std::string tail = "\r\n[OTHER]\n\xC7\xD1=\"q\"\n\n";
  WriteFile(file, head + "VERSION=1.0" + tail);
  ASSERT_TRUE(store_.WriteString("install", "version", "2.0", file));
  EXPECT_EQ(ReadFile(file), head + "VERSION=2.0" + tail);
  ASSERT_TRUE(store_.WriteString("OTHER", "new", "x", file));
  EXPECT_EQ(ReadFile(file), head + "VERSION=2.0" + "\r\n[OTHER]\n\xC7\xD1=\"q\"\nnew=x\r\n\n");
  EXPECT_EQ(Get(file, "OTHER", "\xC7\xD1"), "q");
}

TEST_F(ProfileStoreWrite, KoreanValueRoundTrips) {
  const std::string file = Path("k.ini");
  const std::string korean = "\xC7\xD1\xB1\xDB";
  ASSERT_TRUE(store_.WriteString(korean, "NAME", korean + ".dll", file));
  EXPECT_EQ(Get(file, korean, "name"), korean + ".dll");
  posix::PosixProfileStore fresh;
  char buf[64];
  const std::uint32_t n = fresh.GetString(korean, "NAME", "", buf, sizeof buf, file);
  EXPECT_EQ(std::string(buf, n), korean + ".dll");
}

TEST_F(ProfileStoreWrite, MissingDirectoryFailsAndCreatesNothing) {
  const std::filesystem::path missing = dir_ / "no" / "such";
  EXPECT_FALSE(store_.WriteString("S", "k", "v", (missing / "a.ini").string()));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "no"));
  store_.BeginBatch();
  EXPECT_FALSE(store_.WriteString("S", "k", "v", (missing / "a.ini").string()));
  store_.EndBatch();
  EXPECT_FALSE(std::filesystem::exists(dir_ / "no"));
}

TEST_F(ProfileStoreWrite, RefusesWritesThatWouldNotReadBack) {
  const std::string file = Path("a.ini");
  const std::string before = "[S]\r\nk=v\r\n";
  WriteFile(file, before);
  EXPECT_FALSE(store_.WriteString("S", "k", "v\r\n[ADMIN]\r\nrole=root", file));
  EXPECT_FALSE(store_.WriteString("S", "a=b", "v", file));
  EXPECT_FALSE(store_.WriteString("S", "[T]", "v", file));
  EXPECT_FALSE(store_.WriteString("S", ";k", "v", file));
  EXPECT_FALSE(store_.WriteString("S", "  ", "v", file));
  EXPECT_FALSE(store_.WriteString("S\nT", "k", "v", file));
  EXPECT_FALSE(store_.WriteString("", "k", "v", file));
  EXPECT_EQ(ReadFile(file), before);
}

TEST_F(ProfileStoreWrite, KeepsPermissionsAndLeavesNoTemporaryFile) {
  const std::string file = Path("p.ini");
  WriteFile(file, "[S]\nk=1\n");
  ASSERT_EQ(chmod(file.c_str(), 0640), 0);
  ASSERT_TRUE(store_.WriteString("S", "k", "2", file));
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_.path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(ProfileStoreWrite, WritesThroughASymbolicLink) {
  const std::string real = Path("real.ini");
  const std::string link = Path("link.ini");
  WriteFile(real, "[S]\nk=1\n");
  std::filesystem::create_symlink(real, link);
  ASSERT_TRUE(store_.WriteString("S", "k", "2", link));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(real), "[S]\nk=2\n");
}

}  // namespace
}  // namespace mb::test
