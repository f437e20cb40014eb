// What the update folder keeps, on a real folder: the agent's own files,
// backups, the listed copies, folders and fresh temporaries; and what a
// crash left beside an installed file.
#include "install/update_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "helpers/temp_dir.h"
#include "platform/posix/posix_filesystem.h"

namespace mb::test {
namespace {

namespace fs = std::filesystem;

// A file last written `seconds` ago.
void WriteAged(const fs::path& path, int seconds) {
  WriteFile(path, "x");
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(seconds));
}

TEST(UpdateFolder, KeepsWhatSomeoneNeedsAndClearsTheRest) {
  TempDir dir;
  const fs::path update = dir.path() / "update";
  const char* kept[] = {
      "install_version.ini", "Mailbeacon_Download.ini",      "update_log.txt",
      "pause.txt",           "Mailbeacon_Update_Notice.txt", "express_plugin.ini",
      "outlook_addin.ini",   "mailbeacon_agent.ini",         "plugin.dll_old",
      "Listed.DLL",          ".plugin.new.part-Ab12Cd",      ".install_version.ini.tmp-1-2"};
  const char* cleared[] = {"rejected.dll", "dropped_list.dll", ".stale.dll.part-Xy34Zw",
                           ".stale.dll.Qw56Er"};
  for (const char* name : kept) WriteAged(update / name, name[0] == '.' ? 60 : 86400);
  WriteAged(update / cleared[0], 1);
  WriteAged(update / cleared[1], 86400);
  WriteAged(update / cleared[2], 601);
  WriteAged(update / cleared[3], 86400);
  fs::create_directories(update / "scratch");
  WriteFile(update / "scratch" / "inside.dll", "x");

  posix::PosixFileSystem files;
  auto listed = [](const std::string& name) { return name == "Listed.DLL"; };
  EXPECT_EQ(ClearUpdateFolder(files, update.string(), listed), 4);
  for (const char* name : kept) EXPECT_TRUE(fs::exists(update / name)) << name;
  for (const char* name : cleared) EXPECT_FALSE(fs::exists(update / name)) << name;
  EXPECT_TRUE(fs::exists(update / "scratch" / "inside.dll"));
  EXPECT_EQ(ClearUpdateFolder(files, (dir.path() / "missing").string(), listed), 0);
}

// Beside an installed file only its own temporaries and its backup's go,
// and only stale ones: the folder may hold anyone's hidden files.
TEST(UpdateFolder, StaleTemporariesBesideATargetGo) {
  TempDir dir;
  const fs::path target = dir.path() / "app";
  const char* gone[] = {".x.dll.Ab12Cd", ".x.dll.part-Ab12Cd", ".x.dll_old.Zz99zz"};
  const char* stay[] = {"x.dll", ".x.dll.config1", ".y.dll.Ab12Cd", ".x.dll.Ab12C", ".x.dllAb12Cd"};
  for (const char* name : gone) WriteAged(target / name, 3600);
  for (const char* name : stay) WriteAged(target / name, 3600);
  WriteAged(target / ".x.dll.Fresh1", 10);

  posix::PosixFileSystem files;
  RemoveStaleTemporaries(files, target.string(), "x.dll");
  for (const char* name : gone) EXPECT_FALSE(fs::exists(target / name)) << name;
  for (const char* name : stay) EXPECT_TRUE(fs::exists(target / name)) << name;
  EXPECT_TRUE(fs::exists(target / ".x.dll.Fresh1"));
}

}  // namespace
}  // namespace mb::test
