// Faults of the machine the agent runs on: an update directory that cannot
// be written or vanishes, a full disk, an updater file that cannot be
// replaced, a broken registry file, an install record another program
// rewrites while the agent reads it. Tests run as root, which ignores
// permission bits, so failures come from wrappers that fail the call, or
// from real read-only and size-limited mounts where the test may mount.
#include <sys/mount.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "faults/fault_fixture.h"
#include "faults/fault_wrappers.h"
#include "faults/scoped_mount.h"

namespace mb::test {
namespace {

bool Under(const std::string& path, const std::string& dir) {
  std::string p = path;
  std::replace(p.begin(), p.end(), '\\', '/');
  return p == dir || p.rfind(dir + "/", 0) == 0;
}

class LocalFaults : public FaultTest {
 protected:
  void SetUp() override {
    FaultTest::SetUp();
    h.p.fs = &fs;
    h.p.net = &net;
    h.p.profiles = &profiles;
  }
  void TearDown() override { EXPECT_TRUE(net.refused.empty()) << net.refused.front(); }
  bool IsListedFile(const std::string& url) { return url.find("program=") != std::string::npos; }

  FaultyFileSystem fs{h.fs};
  FaultyNetwork net{h.net};
  FaultyProfiles profiles{h.profiles};
};

// An update directory that cannot be written: every download, profile
// write and file call there fails. The agent keeps running quietly (the
// manifests count as not fetched), changes nothing, and completes once the
// directory is writable again.
TEST_F(LocalFaults, ReadOnlyUpdateDirectory) {
  fs.rule = [&](FsCall, const std::string& p) { return Under(p, h.update) ? EROFS : 0; };
  net.before = [&](auto&, const std::string& p) {
    return Under(p, h.update) ? platform::kDownloadLocalError : 0L;
  };
  profiles.fail_write = [&](const std::string& file) { return Under(file, h.update); };
  const auto before = Snapshot(h.dir.path());
  EXPECT_EQ(h.RunAgent(3), -1);
  EXPECT_TRUE(h.windows.boxes.empty());
  ExpectNoHarm(before);
  // Only the lock, which the system keeps (flock), not the agent's writes.
  EXPECT_EQ(Snapshot(h.update),
            (std::map<std::string, std::string>{
                {"install_version.ini", before.at("inst/update/install_version.ini")},
                {"instance.lock", ""}}));
  fs.rule = [](FsCall, const std::string&) { return 0; };
  net.before = [](auto&, auto&) { return 0L; };
  profiles.fail_write = [](const std::string&) { return false; };
  ExpectRecovers();
}

// The same with a real read-only mount (where the test may mount).
TEST_F(LocalFaults, ReadOnlyMountedUpdateDirectory) {
  ScopedMount ro;
  if (!ro.ReadOnly(h.update)) GTEST_SKIP() << "cannot mount here";
  const auto before = Snapshot(h.dir.path());
  EXPECT_EQ(h.RunAgent(3), -1);
  EXPECT_TRUE(h.windows.boxes.empty());
  ExpectNoHarm(before);
  ro.Unmount();
  ExpectRecovers();
}

// The update directory is removed just before the first listed file: the
// download fails, the run retries; the next start makes the directory
// anew. Its install record went with it, so everything is fetched again.
TEST_F(LocalFaults, UpdateDirectoryVanishesBeforeTheFiles) {
  net.before = [&](const std::string& url, auto&) {
    if (IsListedFile(url) && fault_fs::exists(h.update)) fault_fs::remove_all(h.update);
    return 0L;
  };
  const auto before = Snapshot(h.dir.path());
  EXPECT_EQ(h.RunAgent(1), -1);
  EXPECT_EQ(h.windows.statuses.back(), "Downloading failure..");
  ExpectNoHarm(before);
  net.before = [](auto&, auto&) { return 0L; };
  ExpectRecovers(false);
}

// Removed after the first file was downloaded and set aside, before the
// second: the failed pass's clean-up finds nothing to delete and does not
// stumble over the missing folder; the run retries.
TEST_F(LocalFaults, UpdateDirectoryVanishesBetweenTwoFiles) {
  int listed = 0;
  net.before = [&](const std::string& url, auto&) {
    if (IsListedFile(url) && ++listed == 2) fault_fs::remove_all(h.update);
    return 0L;
  };
  const auto before = Snapshot(h.dir.path());
  EXPECT_EQ(h.RunAgent(1), -1);
  EXPECT_EQ(listed, 2);
  EXPECT_TRUE(h.windows.boxes.empty());
  EXPECT_EQ(h.windows.statuses.back(), "Downloading failure..");
  ExpectNoHarm(before);
  net.before = [](auto&, auto&) { return 0L; };
  ExpectRecovers(false);
}

// A disk that fills up during a download (a 128 KiB tmpfs as the update
// directory, a 512 KiB file): the download fails, no partial or temporary
// file stays, and once there is room the next start completes.
TEST_F(LocalFaults, DiskFullDuringADownload) {
  express[0].body = std::string(512 * 1024, 'b');
  PublishHealthy();
  ScopedMount small;
  if (!small.Tmpfs(h.update, "128k")) GTEST_SKIP() << "cannot mount here";
  const auto before = Snapshot(h.dir.path());
  EXPECT_EQ(h.RunAgent(1), -1);
  EXPECT_EQ(h.windows.statuses.back(), "Downloading failure..");
  ExpectNoHarm(before);
  ASSERT_TRUE(small.Resize("16m"));
  ExpectRecovers();
}

// A disk that fills up while the agent copies the updater's file into place
// (a tmpfs as its target folder): the error box names position 4 and error
// 28; the old updater stays whole, its backup is made, no temporary stays.
// As the box asks for no retry, the plug-in's files are handed over; the
// next start, with room, puts the new updater in place.
TEST_F(LocalFaults, DiskFullDuringTheUpdaterCopy) {
  agent[0].target_dir = ".\\bin";
  agent[0].body = std::string(256 * 1024, 'u');
  PublishHealthy();
  const std::string bin = h.install + "/bin";
  fault_fs::create_directories(bin);
  WriteFile(bin + "/SwiftPatcher_Mailbeacon.exe", "updater 1.0");
  ScopedMount small;
  if (!small.Tmpfs(bin, "64k")) GTEST_SKIP() << "cannot mount here";
  EXPECT_EQ(h.RunAgent(1), kExitHandOff);
  ASSERT_EQ(h.windows.boxes.size(), 1u);
  EXPECT_EQ(h.windows.boxes[0].text,
            "Installation failure : subDownLoadNewVersion : position - 4, 28");
  EXPECT_EQ(Snapshot(bin), (std::map<std::string, std::string>{
                               {"SwiftPatcher_Mailbeacon.exe", "updater 1.0"},
                               {"SwiftPatcher_Mailbeacon.exe_old", "updater 1.0"}}));
  ASSERT_TRUE(small.Resize("16m"));
  EXPECT_EQ(StartAgent(), kExitHandOff);
  EXPECT_EQ(ReadFile(bin + "/SwiftPatcher_Mailbeacon.exe"), agent[0].body);
  EXPECT_EQ(ReadFile(bin + "/SwiftPatcher_Mailbeacon.exe_old"), "updater 1.0");
}

// The installed updater cannot be replaced (busy, denied, full disk): the
// same error box with the OS error, the old file stays, the next start
// replaces it.
class UnreplaceableUpdater : public LocalFaults, public ::testing::WithParamInterface<int> {};

TEST_P(UnreplaceableUpdater, StaysWholeUntilTheNextStart) {
  const std::string target = h.install + "\\SwiftPatcher_Mailbeacon.exe";
  fs.rule = [&](FsCall call, const std::string& p) {
    return call == FsCall::kCopyFile && p == target ? GetParam() : 0;
  };
  EXPECT_EQ(h.RunAgent(1), kExitHandOff);
  ASSERT_EQ(h.windows.boxes.size(), 1u);
  EXPECT_EQ(
      h.windows.boxes[0].text,
      "Installation failure : subDownLoadNewVersion : position - 4, " + std::to_string(GetParam()));
  EXPECT_EQ(ReadFile(h.install + "/SwiftPatcher_Mailbeacon.exe"), "updater 1.0");
  fs.rule = [](FsCall, const std::string&) { return 0; };
  EXPECT_EQ(StartAgent(), kExitHandOff);
  EXPECT_EQ(ReadFile(h.install + "/SwiftPatcher_Mailbeacon.exe"), agent[0].body);
  EXPECT_EQ(ReadFile(h.install + "/SwiftPatcher_Mailbeacon.exe_old"), "updater 1.0");
}

INSTANTIATE_TEST_SUITE_P(Faults, UnreplaceableUpdater,
                         ::testing::Values(ETXTBSY, EACCES, EBUSY, ENOSPC, EROFS),
                         [](const auto& param_info) {
                           return "Errno" + std::to_string(param_info.param);
                         });

// A registry file that cannot be read (a folder in its place) or holds junk:
// the settings fall back to their defaults, the vendor's server, which the
// test keeps off the network. The file is left exactly as it was.
TEST_F(LocalFaults, BrokenRegistryFileIsLeftAloneAndDefaultsApply) {
  for (const bool junk : {false, true}) {
    fault_fs::remove_all(h.registry_path);
    if (junk) {
      WriteFile(h.registry_path, std::string("REGEDIT4\n[HKEY_CURRENT_USER\\SOFTWARE\\Bright") +
                                     '\0' + "\xff\n\"URL\"=hex(7):zz\n");
    } else {
      fault_fs::create_directory(h.registry_path);
    }
    const auto before = Snapshot(h.dir.path());
    EXPECT_EQ(StartAgent(), -1);
    EXPECT_EQ(h.tray->State().ServerUrl, "http://update.mailbeacon.com");
    ASSERT_FALSE(net.refused.empty());
    EXPECT_EQ(net.refused[0], "http://update.mailbeacon.com/mailbeaconhome/download/pause.aspx");
    net.refused.clear();
    ExpectNoHarm(before);
  }
  fault_fs::remove_all(h.registry_path);
  h.UseServer(server.Url(), "/v");
  ExpectRecovers();
}

// The disk fills up just as the pending-install list is written: the list's
// writes go to disk as one batch, so it is missing as a whole, never half
// written. Write failures of the INI files are not reported, so the run
// hands off; the updater then finds no list and does nothing, and the next
// start, finding the plug-in still at 1.0, does the update again.
TEST_F(LocalFaults, PendingListThatCannotBeWrittenIsMissingNotPartial) {
  profiles.fail_write = [](const std::string& file) {
    return file.find("mailbeacon_download.ini") != std::string::npos;
  };
  EXPECT_EQ(h.RunAgent(1), kExitHandOff);
  EXPECT_FALSE(fault_fs::exists(h.UpdatePath("mailbeacon_download.ini")));
  EXPECT_EQ(ReadFile(h.install + "/plugins/plugin.dll"), "plugin 1.0");
  profiles.fail_write = [](const std::string&) { return false; };
  EXPECT_EQ(StartAgent(), kExitHandOff);
  const std::string list = ReadFile(h.UpdatePath("mailbeacon_download.ini"));
  EXPECT_NE(list.find("[EXPRESS_DOWNLOAD]\r\nTOTAL_FILES=2"), std::string::npos) << list;
}

// The log lines of a recorded pass come after the pending-install list and
// the install record are on disk: a crash at the first log line (here, a
// log that cannot be written) leaves a list and a record that agree, and
// no log line claiming a file that no list holds.
TEST_F(LocalFaults, PendingListAndRecordAreOnDiskBeforeTheLog) {
  std::vector<std::string> seen;  // the list and the record at each log write
  fs.rule = [&](FsCall call, const std::string& p) {
    if (call != FsCall::kAppend || p.find("update_log.txt") == std::string::npos) return 0;
    for (const char* file : {"mailbeacon_download.ini", "install_version.ini"}) {
      seen.push_back(fault_fs::exists(h.UpdatePath(file)) ? ReadFile(h.UpdatePath(file)) : "");
    }
    return EIO;
  };
  EXPECT_EQ(h.RunAgent(1), kExitHandOff);
  ASSERT_EQ(seen.size(), 4u);  // one failed log line per pass
  EXPECT_NE(seen[0].find("[EXPRESS_DOWNLOAD]\r\nTOTAL_FILES=2\r\n[EXPRESS_FILE_1]"),
            std::string::npos)
      << seen[0];
  EXPECT_NE(seen[0].find("[EXPRESS_FILE_2]\r\nNAME=help.txt"), std::string::npos) << seen[0];
  EXPECT_NE(seen[1].find("[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\nLAST_VERSION=1.1"),
            std::string::npos)
      << seen[1];
  EXPECT_NE(seen[2].find("[AGENT_DOWNLOAD]\r\nTOTAL_FILES=1\r\n[AGENT_FILE_1]\r\nNAME=agent.cfg"),
            std::string::npos)
      << seen[2];
  EXPECT_NE(seen[3].find("LAST_VERSION=2.0"), std::string::npos) << seen[3];
  EXPECT_FALSE(fault_fs::exists(h.UpdatePath("update_log.txt")));
}

// Another program (the updater) rewrites the install record between two of
// the agent's reads: the agent's next read sees the new text, and its own
// later writes keep what the other program wrote.
class RewrittenInstallRecord : public LocalFaults, public ::testing::WithParamInterface<bool> {};

TEST_P(RewrittenInstallRecord, IsReadAnewAndNothingIsLost) {
  const bool in_place = GetParam();
  const std::string record = h.UpdatePath("install_version.ini");
  bool done = false;
  profiles.after_read = [&](const std::string& section, const std::string& key) {
    if (done || section != "EXPRESS_DOWNLOAD" || key != "INSTALL_VERSION") return;
    done = true;
    // The other program installed plug-in 1.1 itself, and says so.
    const std::string text =
        "[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\n[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\n"
        "[plugin.dll]\r\nVERSION=1.1\r\nUPDATE=2006-01-01 10:00:01\r\n[OTHER]\r\nBY=updater\r\n";
    if (in_place) {
      WriteFile(record, text);
    } else {
      WriteFile(record + ".new", text);
      fault_fs::rename(record + ".new", record);
    }
  };
  EXPECT_EQ(h.RunAgent(1), kExitHandOff);
  ASSERT_TRUE(done);
  EXPECT_FALSE(fault_fs::exists(h.UpdatePath("plugin.new")));  // 1.1 is in place already
  EXPECT_EQ(ReadFile(h.UpdatePath("help.txt")), "help 1.1");
  const std::string after = ReadFile(record);
  EXPECT_NE(after.find("[plugin.dll]\r\nVERSION=1.1\r\nUPDATE=2006-01-01 10:00:01"),
            std::string::npos)
      << after;
  EXPECT_NE(after.find("[OTHER]\r\nBY=updater"), std::string::npos) << after;
  EXPECT_NE(after.find("LAST_VERSION=1.1"), std::string::npos) << after;
}

INSTANTIATE_TEST_SUITE_P(Faults, RewrittenInstallRecord, ::testing::Bool(),
                         [](const auto& param_info) {
                           return param_info.param ? "InPlace" : "ByRename";
                         });

}  // namespace
}  // namespace mb::test
