// The INI store's per-file cache, its batches, and hostile file contents.
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "tests/posix/profile_test_util.h"

namespace mb::test {
namespace {

using ProfileStoreCache = ProfileStoreFixture;
using ProfileStoreBatch = ProfileStoreFixture;
using ProfileStoreJunk = ProfileStoreFixture;

// Moves the file's mtime by `delta` (another program touching it).
void ShiftMtime(const std::string& file, std::chrono::seconds delta) {
  const auto t = std::filesystem::last_write_time(file);
  std::filesystem::last_write_time(file, t + delta);
}

std::string Read(posix::PosixProfileStore& store, const std::string& file,
                 const std::string& section, const std::string& key) {
  char buf[1024];
  const std::uint32_t n = store.GetString(section, key, "", buf, sizeof buf, file);
  return std::string(buf, n);
}

TEST_F(ProfileStoreCache, ReadsAgainAfterAnotherProgramRewritesTheFile) {
  // No settling time: only the file stamp can tell the change.
  posix::PosixProfileStore store(std::chrono::milliseconds(0));
  const std::string file = Path("c.ini");
  WriteFile(file, "[S]\nk=123\n");
  ShiftMtime(file, std::chrono::seconds(-60));
  EXPECT_EQ(Read(store, file, "S", "k"), "123");

  WriteFile(file, "[S]\nk=12345\n");  // other size
  EXPECT_EQ(Read(store, file, "S", "k"), "12345");

  WriteFile(file, "[S]\nk=67890\n");  // same size, later mtime
  ShiftMtime(file, std::chrono::seconds(5));
  EXPECT_EQ(Read(store, file, "S", "k"), "67890");

  // Same size and the old mtime put back: the change time still moves.
  const auto old_mtime = std::filesystem::last_write_time(file);
  WriteFile(file, "[S]\nk=00000\n");
  std::filesystem::last_write_time(file, old_mtime);
  EXPECT_EQ(Read(store, file, "S", "k"), "00000");

  std::filesystem::remove(file);
  EXPECT_EQ(Read(store, file, "S", "k"), "");
}

// Kernels that stamp files from a coarse clock give both rewrites the same
// mtime and ctime; the store must not trust a copy of so young a file.
TEST_F(ProfileStoreCache, SameSizeRewriteWithinOneClockTickIsSeen) {
  const std::string file = Path("c.ini");
  for (int round = 0; round < 20; ++round) {
    const std::string value = std::to_string(100 + round);
    WriteFile(file, "[S]\nk=" + value + "\n");
    EXPECT_EQ(Get(file, "S", "k"), value);
  }
}

TEST_F(ProfileStoreCache, WriteKeepsWhatAnotherProgramAddedMeanwhile) {
  const std::string file = Path("c.ini");
  ASSERT_TRUE(store_.WriteString("S", "mine", "1", file));
  WriteFile(file, ReadFile(file) + "theirs=2\r\n");
  ASSERT_TRUE(store_.WriteString("S", "mine", "3", file));
  EXPECT_EQ(ReadFile(file), "[S]\r\nmine=3\r\ntheirs=2\r\n");
}

TEST_F(ProfileStoreBatch, WritesReachTheDiskOnlyAtTheOutermostEnd) {
  const std::string file = Path("b.ini");
  {
    platform::ProfileBatch outer(store_);
    ASSERT_TRUE(store_.WriteString("S", "a", "1", file));
    {
      platform::ProfileBatch inner(store_);
      ASSERT_TRUE(store_.WriteString("S", "b", "2", file));
    }
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(Get(file, "S", "b"), "2");  // the batch reads its own writes
  }
  EXPECT_EQ(ReadFile(file), "[S]\r\na=1\r\nb=2\r\n");
  store_.EndBatch();  // unbalanced end: nothing to do, nothing breaks
  ASSERT_TRUE(store_.WriteString("S", "c", "3", file));
  EXPECT_EQ(ReadFile(file), "[S]\r\na=1\r\nb=2\r\nc=3\r\n");
}

TEST_F(ProfileStoreBatch, TenThousandSectionsLandAndReadBack) {
  const std::string file = Path("big.ini");
  WriteFile(file, "[HEAD]\r\nx=1\r\n");
  const int kSections = 10000;
  store_.BeginBatch();
  for (int i = 1; i <= kSections; ++i) {
    const std::string section = "OUTLOOK_FILE_" + std::to_string(i);
    ASSERT_TRUE(store_.WriteString(section, "NAME", "f" + std::to_string(i) + ".dll", file));
    ASSERT_TRUE(store_.WriteString(section, "BACK_UP", "NO", file));
  }
  EXPECT_EQ(ReadFile(file), "[HEAD]\r\nx=1\r\n");
  store_.EndBatch();

  const std::string on_disk = ReadFile(file);
  const std::string last = "[OUTLOOK_FILE_10000]\r\nNAME=f10000.dll\r\nBACK_UP=NO\r\n";
  EXPECT_EQ(on_disk.rfind(last), on_disk.size() - last.size());
  posix::PosixProfileStore fresh(std::chrono::milliseconds(0));  // parses the file once
  for (int i = 1; i <= kSections; i += 997) {
    EXPECT_EQ(Read(fresh, file, "outlook_file_" + std::to_string(i), "name"),
              "f" + std::to_string(i) + ".dll");
  }
  EXPECT_EQ(Read(fresh, file, "HEAD", "x"), "1");
}

TEST_F(ProfileStoreBatch, DestroyingTheStoreFlushesAnOpenBatch) {
  const std::string file = Path("b.ini");
  {
    posix::PosixProfileStore store;
    store.BeginBatch();
    ASSERT_TRUE(store.WriteString("S", "k", "v", file));
  }
  EXPECT_EQ(ReadFile(file), "[S]\r\nk=v\r\n");
}

TEST_F(ProfileStoreJunk, BinaryJunkNeitherCrashesNorGetsRewritten) {
  std::mt19937 rng(20070315);
  std::uniform_int_distribution<int> byte(0, 255);
  const char alphabet[] = "[]=;\"' \t\r\n\0abcKEY";
  std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 1);
  for (int round = 0; round < 40; ++round) {
    std::string junk;
    const std::size_t length = 1 + static_cast<std::size_t>(byte(rng)) * 8;
    for (std::size_t i = 0; i < length; ++i) {
      junk += round % 2 ? static_cast<char>(byte(rng)) : alphabet[pick(rng)];
    }
    const std::string file = Path("junk" + std::to_string(round) + ".ini");
    WriteFile(file, junk);
    Get(file, "abc", "KEY", "d", 16);  // any answer, within the buffer
    ASSERT_TRUE(store_.WriteString("MB_ZZ_NEW", "k", "v", file));
    const char last = junk.back();
    const std::string sep = (last == '\n' || last == '\r') ? "" : "\r\n";
    EXPECT_EQ(ReadFile(file), junk + sep + "[MB_ZZ_NEW]\r\nk=v\r\n") << "round " << round;
    EXPECT_EQ(Get(file, "mb_zz_new", "K"), "v");
  }
}

TEST_F(ProfileStoreJunk, HugeLinesAndNulsAreHandled) {
  const std::string file = Path("huge.ini");
  const std::string mib(1 << 20, 'a');
  WriteFile(file, "[S]\nk=" + mib + "\n[" + mib + "\n" + std::string(1000, '\0') + "\n[T]\nt=1");
  EXPECT_EQ(Get(file, "S", "k"), std::string(1023, 'a'));
  EXPECT_EQ(Get(file, "T", "t"), "1");
  ASSERT_TRUE(store_.WriteString("S", "k", "short", file));
  EXPECT_EQ(ReadFile(file),
            "[S]\nk=short\n[" + mib + "\n" + std::string(1000, '\0') + "\n[T]\nt=1");
}

}  // namespace
}  // namespace mb::test
