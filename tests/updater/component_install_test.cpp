// One component installed all or nothing, over the real POSIX backends with
// the failures Windows gives (a file another program holds, a folder this
// user may not write, a rename refused half-way) made by a forwarding
// wrapper: the component is either wholly new or wholly as it was, with no
// file staged or renamed aside left behind, and says why.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "faults/fault_wrappers.h"
#include "helpers/temp_dir.h"
#include "install/install_journal.h"
#include "platform/posix/posix_codepage.h"
#include "platform/posix/posix_process.h"
#include "platform/posix/posix_profile_store.h"
#include "updater/component_install.h"

namespace mb::test {
namespace {

namespace fs = std::filesystem;

class ComponentInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(update());
    for (const char* name : {"a.dll", "b.dll"}) {
      WriteFile(dir() / name, std::string("old ") + name);
      WriteFile(update() / (std::string(name) + ".new"), std::string("new ") + name);
    }
    WriteFile(dir() / "a.dll_old", "older a.dll");
    component.section = "EXPRESS_DOWNLOAD";
    for (const char* name : {"a.dll", "b.dll"}) {
      PendingFile f;
      f.section = "EXPRESS_FILE";
      f.name = std::string(name) + ".new";
      f.org_name = f.org_name_ansi = name;
      f.target_dir = dir().string();
      f.back_up = true;
      f.version_ansi = "1.1";
      component.files.push_back(f);
    }
    policy.in_use_limit = std::chrono::milliseconds(3000);
    policy.in_use_poll = std::chrono::milliseconds(500);
    policy.sleep = [this](std::chrono::milliseconds ms) { slept += ms; };
  }
  fs::path dir() const { return tmp.path() / "inst"; }
  fs::path update() const { return dir() / "update"; }
  updater::ComponentResult Install() {
    platform::Platform p{.profiles = &profiles, .fs = &faulty, .codepage = &codepage};
    updater::ComponentInstaller installer(p, update().string(), policy,
                                          [this](const std::string& l) { log.push_back(l); });
    return installer.Install(component, "1.1", leftovers);
  }
  std::map<std::string, std::string> Folder() const {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(dir())) {
      if (e.is_regular_file()) files[e.path().filename().string()] = ReadFile(e.path());
    }
    return files;
  }
  std::string Record() const {
    return fs::exists(update() / "install_version.ini") ? ReadFile(update() / "install_version.ini")
                                                         : "";
  }
  std::string Target(const char* name) const { return dir().string() + "\\" + name; }

  const std::map<std::string, std::string> kAsItWas{
      {"a.dll", "old a.dll"}, {"a.dll_old", "older a.dll"}, {"b.dll", "old b.dll"}};
  const std::map<std::string, std::string> kNew{
      {"a.dll", "new a.dll"}, {"a.dll_old", "old a.dll"}, {"b.dll", "new b.dll"},
      {"b.dll_old", "old b.dll"}};

  TempDir tmp;
  posix::PosixFileSystem posix;
  FaultyFileSystem faulty{posix};
  posix::PosixProfileStore profiles;
  posix::IconvCodePage codepage{1252};
  PendingComponent component;
  updater::InstallPolicy policy;
  std::chrono::milliseconds slept{0};
  std::vector<std::string> log, leftovers;
};

TEST_F(ComponentInstall, EveryFileWithItsBackupAndTheRecord) {
  const updater::ComponentResult r = Install();
  EXPECT_TRUE(r.installed) << r.detail;
  EXPECT_EQ(Folder(), kNew);
  EXPECT_EQ(Record(),
            "[a.dll]\r\nVERSION=1.1\r\n[b.dll]\r\nVERSION=1.1\r\n[EXPRESS_DOWNLOAD]\r\n"
            "INSTALL_VERSION=1.1\r\n");
  EXPECT_EQ(log, (std::vector<std::string>{
                     "Installed : " + Target("a.dll") + " (previous copy kept as a.dll_old)",
                     "Installed : " + Target("b.dll") + " (previous copy kept as b.dll_old)"}));
  EXPECT_FALSE(fs::exists(update() / "install_journal.txt"));
}

// The second file's rename is refused once the first is in place (another
// program opened it in that moment): the first goes back, its backup too.
TEST_F(ComponentInstall, ASwapRefusedHalfWayPutsBackEveryFileAlreadySwapped) {
  bool refused = false;
  faulty.rule = [&](FsCall call, const std::string& to) {
    if (call != FsCall::kRename || to != Target("b.dll") || refused) return 0;
    refused = true;
    return EBUSY;
  };
  const updater::ComponentResult r = Install();
  EXPECT_FALSE(r.installed);
  EXPECT_EQ(r.reason, "io");
  EXPECT_EQ(r.file, Target("b.dll"));
  EXPECT_EQ(Folder(), kAsItWas);  // nothing staged or aside is left either
  EXPECT_EQ(Record(), "");
  // Undone in the reverse order (a backup made new is removed: as it was).
  EXPECT_EQ(log, (std::vector<std::string>{"Put back as it was : " + Target("b.dll_old"),
                                          "Put back as it was : " + Target("a.dll"),
                                          "Put back as it was : " + Target("a.dll_old")}));
  EXPECT_FALSE(fs::exists(update() / "install_journal.txt"));
}

// A file another program holds is waited for, polling, a bounded time:
// freed in time, the component installs; held past the limit, nothing of
// it changes and the result names the file and why.
TEST_F(ComponentInstall, AFileInUseIsWaitedForAndInstalledOnceFree) {
  int checks = 0;
  faulty.access_rule = [&](const std::string& p) -> std::optional<platform::AccessCheck> {
    if (p != Target("b.dll") || ++checks > 3) return std::nullopt;
    return platform::AccessCheck{platform::Access::kInUse, "Sharing violation"};
  };
  const updater::ComponentResult r = Install();
  EXPECT_TRUE(r.installed) << r.detail;
  EXPECT_EQ(Folder(), kNew);
  EXPECT_EQ(slept, std::chrono::milliseconds(1500));
  EXPECT_EQ(log.front(),
            "Waiting for " + Target("b.dll") + " : in use by another program (Sharing violation)");
}

TEST_F(ComponentInstall, AFileHeldPastTheLimitLeavesTheComponentAsItWas) {
  faulty.access_rule = [&](const std::string& p) -> std::optional<platform::AccessCheck> {
    if (p != Target("b.dll")) return std::nullopt;
    return platform::AccessCheck{platform::Access::kInUse, "Sharing violation"};
  };
  const updater::ComponentResult r = Install();
  EXPECT_FALSE(r.installed);
  EXPECT_EQ(r.reason, "in-use");
  EXPECT_EQ(r.file, Target("b.dll"));
  EXPECT_EQ(r.detail, "in use by another program (Sharing violation)");
  EXPECT_EQ(Folder(), kAsItWas);
  EXPECT_EQ(Record(), "");
  EXPECT_GE(slept, policy.in_use_limit - policy.in_use_poll);
  EXPECT_LE(slept, policy.in_use_limit + policy.in_use_poll);
}

// A folder this user may not write (the system folder of a per-user
// install) is found while staging: nothing changes, the result says which
// rights are missing.
TEST_F(ComponentInstall, AFolderThatNeedsRightsChangesNothing) {
  const std::string system = (tmp.path() / "system32").string();
  fs::create_directories(system);
  component.files[1].target_dir = system;
  faulty.rule = [&](FsCall call, const std::string& to) {
    return call == FsCall::kCopyFile && to.rfind(system, 0) == 0 ? EACCES : 0;
  };
  faulty.access_rule = [&](const std::string& p) -> std::optional<platform::AccessCheck> {
    if (p != system) return std::nullopt;
    return platform::AccessCheck{platform::Access::kDenied, "Permission denied"};
  };
  const updater::ComponentResult r = Install();
  EXPECT_FALSE(r.installed);
  EXPECT_EQ(r.reason, "denied");
  EXPECT_EQ(r.detail, "needs administrator rights (Permission denied)");
  EXPECT_EQ(Folder(), kAsItWas);
  EXPECT_TRUE(fs::is_empty(system));
}

// The old copy of a file still held after the swap (Windows cannot delete
// a loaded DLL) stays aside as a leftover the journal keeps; the record
// that did not reach the disk leaves the journal at "committed", and the
// next start writes it.
TEST_F(ComponentInstall, HeldOldCopiesAndALostRecordAreFinishedByTheNextStart) {
  faulty.rule = [&](FsCall call, const std::string& p) {
    return call == FsCall::kDeleteFile && p.find(".b.dll.aside-") != std::string::npos ? ETXTBSY
                                                                                        : 0;
  };
  FaultyProfiles lossy(profiles);
  lossy.fail_write = [](const std::string&) { return true; };
  platform::Platform p{.profiles = &lossy, .fs = &faulty, .codepage = &codepage};
  updater::ComponentInstaller installer(p, update().string(), policy,
                                        [this](const std::string& l) { log.push_back(l); });
  const updater::ComponentResult r = installer.Install(component, "1.1", leftovers);
  EXPECT_FALSE(r.installed);
  EXPECT_EQ(r.reason, "record");
  EXPECT_EQ(Record(), "");
  EXPECT_EQ(ReadFile(dir() / "b.dll"), "new b.dll");

  EXPECT_EQ(RecoverInstall(faulty, profiles, update().string()),
            std::vector<std::string>{"Install of [EXPRESS_DOWNLOAD] 1.1 completed"});
  EXPECT_NE(Record().find("INSTALL_VERSION=1.1"), std::string::npos);
  const std::vector<std::string> held = JournalLeftovers(posix, update().string());
  ASSERT_EQ(held.size(), 1u);
  EXPECT_NE(held[0].find(".b.dll.aside-"), std::string::npos);

  faulty.rule = [](FsCall, const std::string&) { return 0; };  // the program let go
  EXPECT_TRUE(RecoverInstall(faulty, profiles, update().string()).empty());
  EXPECT_EQ(Folder(), kNew);
  EXPECT_FALSE(fs::exists(update() / "install_journal.txt"));
}

}  // namespace
}  // namespace mb::test
