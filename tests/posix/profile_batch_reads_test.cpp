// Reads inside a batch: a file is checked on disk once per batch, so a plan
// reading thousands of values from a just-downloaded (young) file parses it
// once; the copy never outlives the batch, and writes still see the disk.
#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/posix/profile_test_util.h"

namespace mb::test {
namespace {

using ProfileStoreBatchReads = ProfileStoreFixture;

TEST_F(ProfileStoreBatchReads, AYoungFileIsReadOnceAndAfreshAfterTheBatch) {
  const std::string file = Path("manifest.ini");
  WriteFile(file, "[S]\r\nk=1\r\n");  // just written: its stamp proves nothing
  {
    platform::ProfileBatch batch(store_);
    EXPECT_EQ(Get(file, "S", "k"), "1");
    WriteFile(file, "[S]\r\nk=2\r\n");    // another program, same size
    EXPECT_EQ(Get(file, "s", "K"), "1");  // the copy the batch checked
    EXPECT_EQ(Get(file, "S", "other", "d"), "d");
  }
  EXPECT_EQ(Get(file, "S", "k"), "2");
  {
    platform::ProfileBatch next(store_);  // a new batch checks the disk again
    WriteFile(file, "[S]\r\nk=3\r\n");
    EXPECT_EQ(Get(file, "S", "k"), "3");
  }
}

TEST_F(ProfileStoreBatchReads, AWriteInTheBatchKeepsWhatAnotherProgramAdded) {
  const std::string file = Path("list.ini");
  WriteFile(file, "[S]\r\na=1\r\n");
  {
    platform::ProfileBatch batch(store_);
    EXPECT_EQ(Get(file, "S", "a"), "1");
    WriteFile(file, "[S]\r\na=1\r\nb=2\r\n");
    ASSERT_TRUE(store_.WriteString("S", "c", "3", file));
    EXPECT_EQ(Get(file, "S", "b"), "2");
  }
  EXPECT_EQ(ReadFile(file), "[S]\r\na=1\r\nb=2\r\nc=3\r\n");
}

TEST_F(ProfileStoreBatchReads, AFileMissingAtTheFirstReadIsStillCreatedOnlyInAFolder) {
  const std::string folder = Path("later");
  const std::string file = folder + "/new.ini";
  store_.BeginBatch();
  EXPECT_EQ(Get(file, "S", "k", "none"), "none");
  EXPECT_FALSE(store_.WriteString("S", "k", "v", file));  // no folder yet
  std::filesystem::create_directory(folder);
  EXPECT_EQ(Get(file, "S", "k", "none"), "none");
  ASSERT_TRUE(store_.WriteString("S", "k", "v", file));
  EXPECT_EQ(Get(file, "S", "k"), "v");
  EXPECT_FALSE(std::filesystem::exists(file));
  store_.EndBatch();
  EXPECT_EQ(ReadFile(file), "[S]\r\nk=v\r\n");
}

TEST_F(ProfileStoreBatchReads, CopiesNoLaterReadCouldUseAreNotKept) {
  posix::PosixProfileStore store(std::chrono::milliseconds(100));
  const auto read = [&](const std::string& file) {
    char buf[16];
    return std::string(buf, store.GetString("S", "k", "d", buf, sizeof buf, file));
  };
  const std::string old = Path("record.ini");
  const std::string young = Path("manifest.ini");
  WriteFile(old, "[S]\r\nk=2\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(250));  // settles
  WriteFile(young, "[S]\r\nk=1\r\n");
  {
    platform::ProfileBatch batch(store);
    EXPECT_EQ(read(young), "1");
    EXPECT_EQ(read(old), "2");
    EXPECT_EQ(read(Path("missing.ini")), "d");
    EXPECT_EQ(store.CachedFileCount(), 3u);
  }
  EXPECT_EQ(store.CachedFileCount(), 1u);  // only the settled file
  EXPECT_EQ(read(young), "1");
  EXPECT_EQ(read(Path("missing.ini")), "d");
  EXPECT_EQ(store.CachedFileCount(), 1u);
  ASSERT_TRUE(store.WriteString("S", "k", "3", young));  // we wrote it: trusted
  EXPECT_EQ(store.CachedFileCount(), 2u);
  EXPECT_EQ(read(young), "3");
}

}  // namespace
}  // namespace mb::test
