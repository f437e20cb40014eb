// `mailbeacon-server publish`: a component's release checked as the server
// would serve it, put in place in one step whatever was there, the release
// it replaced kept, and publishing that again the way back. The swap is
// tried with the system's exchange and with a file system that refuses it.
#include "server/publish/publish_command.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "helpers/temp_dir.h"
#include "helpers/test_signer.h"
#include "server/publish/folder_swap.h"
#include "server/release_signing.h"
#include "server/release_snapshot.h"

namespace mb::server {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

int RefusedExchange(const char*, const char*) {
  errno = EINVAL;  // what a file system without RENAME_EXCHANGE answers
  return -1;
}
int FailingExchange(const char*, const char*) {
  errno = EACCES;
  return -1;
}

class Publishing : public ::testing::Test {
 protected:
  // A component folder in the release store: release.ini, files.ini and files.
  fs::path Release(const std::string& name, const std::string& version,
                   const std::map<std::string, std::string>& files = {{"plugin.dll", "p"}},
                   const std::string& files_ini = "", const std::string& more_ini = "") {
    const fs::path dir = store_ / name;
    WriteFile(dir / "release.ini", "[RELEASE]\r\nLAST_VERSION=" + version + "\r\n" + more_ini);
    WriteFile(dir / "files.ini", files_ini);
    for (const auto& [file, body] : files) WriteFile(dir / file, body);
    return dir;
  }
  int Publish(const fs::path& release, const std::string& component = "ORG/express") {
    out_.str("");
    err_.str("");
    return RunPublish(
        {"--root", root_.str(), "--component", component, "--release", release.string()}, out_,
        err_);
  }
  // What the server serves for the plug-in now: its LAST_VERSION, or the status.
  std::string Served(const std::string& folder = "ORG") const {
    const auto snapshot =
        ReleaseSnapshot::Build(ReleaseFolder(root_.str()), AnsiCodePage(949), CachePolicy{});
    const ComponentRelease* c = snapshot->Find(Component::kExpress, folder, "new");
    if (c == nullptr) return "none";
    return c->manifest.status == 200 ? c->last_version : std::to_string(c->manifest.status);
  }
  fs::path Target() const { return root_ / "ORG/express"; }
  // A release copied in as a real folder, as a first release is laid out.
  void CopyIn(const fs::path& release) const {
    fs::create_directories(Target().parent_path());
    fs::copy(release, Target(), fs::copy_options::recursive);
  }
  std::string Said() const { return out_.str() + err_.str(); }

  test::TempDir root_;
  test::TempDir store_;
  std::ostringstream out_, err_;
};

// Nothing, a real folder or a link at the component's place, with the
// system's exchange and without one: the release goes in, and what was
// there stays behind .previous.
TEST_F(Publishing, PutsAReleaseInPlaceWhateverWasThere) {
  enum class Before { kNothing, kFolder, kLink };
  for (const ExchangeNames exchange : {ExchangeNamesOfTheSystem, RefusedExchange}) {
    for (const Before before : {Before::kNothing, Before::kFolder, Before::kLink}) {
      SCOPED_TRACE(::testing::Message() << "before " << static_cast<int>(before) << ", "
                                        << (exchange == RefusedExchange ? "no exchange" : ""));
      fs::remove_all(root_.path() / "ORG");
      fs::create_directories(root_.path() / "ORG");
      const fs::path old = Release("old", "1.0", {{"plugin.dll", "old bytes"}});
      if (before == Before::kFolder) CopyIn(old);
      if (before == Before::kLink) fs::create_directory_symlink(old, Target());
      const fs::path release = Release("new", "1.1", {{"plugin.dll", "new bytes"}});

      const SwapResult swap = PutInPlace(release, Target(), exchange);
      EXPECT_EQ(fs::read_symlink(Target()), release);
      EXPECT_EQ(ReadFile(Target() / "plugin.dll"), "new bytes");
      EXPECT_EQ(swap.in_one_step, before != Before::kFolder || exchange != RefusedExchange);
      EXPECT_EQ(swap.kept.has_value(), before != Before::kNothing);
      if (swap.kept) {
        EXPECT_EQ(*swap.kept, root_.path() / "ORG/express.previous");
        EXPECT_EQ(ReadFile(*swap.kept / "plugin.dll"), "old bytes");
      }
      // Only our links and the kept folder: no temporary name left behind.
      std::size_t entries = 0;
      for (const auto& e : fs::directory_iterator(root_.path() / "ORG")) {
        EXPECT_NE(e.path().filename().string().front(), '.') << e.path();
        ++entries;
      }
      EXPECT_EQ(entries, std::size_t{1} + swap.kept.has_value() + (before == Before::kFolder));
    }
  }
}

// An exchange that fails for another reason changes nothing.
TEST_F(Publishing, AFailedExchangeLeavesWhatWasThere) {
  CopyIn(Release("old", "1.0"));
  EXPECT_THROW(PutInPlace(Release("new", "1.1"), Target(), FailingExchange), std::runtime_error);
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(Target())));
  EXPECT_EQ(std::distance(fs::directory_iterator(root_.path() / "ORG"), {}), 1);
  EXPECT_EQ(Served(), "1.0");
}

// The vendor's week: a first release as a real folder, a new one published
// over it, the way back and forth again, each as the server then serves it.
TEST_F(Publishing, PublishingWhatWasReplacedIsTheWayBack) {
  CopyIn(Release("first", "1.0"));
  ASSERT_EQ(Publish(Release("second", "1.1")), 0) << Said();
  EXPECT_EQ(Served(), "1.1");
  EXPECT_NE(out_.str().find("--release " + (root_.path() / "ORG/express.previous").string()),
            std::string::npos)
      << Said();
  const fs::path previous = root_.path() / "ORG/express.previous";
  ASSERT_EQ(Publish(previous), 0) << Said();
  EXPECT_EQ(Served(), "1.0");
  ASSERT_EQ(Publish(previous), 0) << Said();
  EXPECT_EQ(Served(), "1.1");
  ASSERT_EQ(Publish(store_ / "second"), 0);
  EXPECT_NE(out_.str().find("already; nothing changed"), std::string::npos) << Said();
  EXPECT_EQ(Served(), "1.1");
  // Into a root without its folder yet: MIRROR is made.
  ASSERT_EQ(Publish(store_ / "second", "MIRROR/express"), 0) << Said();
  EXPECT_EQ(Served("MIRROR"), "1.1");
}

// What the server would refuse is not published, and says why; what was
// served stays served.
TEST_F(Publishing, ChecksTheReleaseAsTheServerWould) {
  ASSERT_EQ(Publish(Release("good", "1.0")), 0) << Said();
  struct Case {
    std::string name;
    std::function<fs::path()> release;
    int status;
    std::string said;
  } cases[] = {
      {"relative target",
       [&] {
         return Release("b1", "1.1", {{"plugin.dll", "p"}}, "[plugin.dll]\r\nTARGET_DIR=sub\r\n");
       },
       1, "not published: ORG/express would not be served"},
      {"no LAST_VERSION", [&] { return Release("b2", ""); }, 1, "no [RELEASE] LAST_VERSION"},
      {"signed, then changed",
       [&] {
         const fs::path dir = Release("b5", "1.1");
         test::TestSigningKey key;
         key.WritePrivatePem((store_ / "key.pem").string());
         fs::create_directories(store_ / "signroot/ORG");
         fs::create_directory_symlink(dir, store_ / "signroot/ORG/express");
         std::ostringstream ignored;
         EXPECT_EQ(RunSign({"--root", (store_ / "signroot").string(), "--key",
                            (store_ / "key.pem").string()},
                           ignored, ignored),
                   0);
         WriteFile(dir / "plugin.dll", "changed after signing");
         return dir;
       },
       1, "signature.ini no longer fits the files"},
      {"not a folder", [&] { return store_ / "nowhere"; }, 1, "is not a folder"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Publish(c.release()), c.status) << c.name << ": " << Said();
    EXPECT_NE(Said().find(c.said), std::string::npos) << c.name << ": " << Said();
    EXPECT_EQ(Served(), "1.0") << c.name;
  }
  EXPECT_EQ(Publish(store_ / "good", "ORG/other"), 2);
  EXPECT_NE(Said().find("--component takes ORG or MIRROR"), std::string::npos) << Said();
  EXPECT_EQ(RunPublish({"--root", root_.str()}, out_, err_), 2);
  // A release inside the real folder it would replace: its link would lead
  // into the folder that moves away.
  fs::remove(Target());
  CopyIn(store_ / "good");
  WriteFile(Target() / "inner/release.ini", "[RELEASE]\r\nLAST_VERSION=2\r\n");
  EXPECT_EQ(Publish(Target() / "inner"), 1);
  EXPECT_NE(Said().find("the folder it would replace"), std::string::npos) << Said();
}

// Published all the same, with a warning: releases agents could never
// record as installed, and signing that agents with keys would refuse.
TEST_F(Publishing, WarnsWhatTheServerWouldServeButAgentsNotComplete) {
  struct Case {
    std::string name;
    std::function<fs::path()> release;
    std::string warning;  // empty: no warning of this kind
  } cases[] = {
      {"no file", [&] { return Release("w1", "1.1", {}); }, "it publishes no file"},
      {"only the updater",
       [&] {
         return Release(
             "w2", "1.1", {{"SwiftPatcher_Mailbeacon_2.exe", "u"}},
             "[SwiftPatcher_Mailbeacon_2.exe]\r\nORG_NAME=SwiftPatcher_Mailbeacon.exe\r\n");
       },
       "its only files are the updater's own"},
      {"every file under its own name",
       [&] {
         return Release("w3", "1.1",
                        {{"Mailbeacon.exe", "a"}, {"SwiftPatcher_Mailbeacon.exe", "u"}});
       },
       "every file for the updater is published under its own name"},
      {"a new agent under a name of its own",
       [&] {
         return Release("w4", "1.1",
                        {{"Mailbeacon_110.exe", "a"}, {"SwiftPatcher_Mailbeacon.exe", "u"}},
                        "[Mailbeacon_110.exe]\r\nORG_NAME=Mailbeacon.exe\r\n");
       },
       ""},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Publish(c.release(), "ORG/agent"), 0) << c.name << ": " << Said();
    const bool warned =
        err_.str().find("agents never record the release as installed") != std::string::npos;
    EXPECT_EQ(warned, !c.warning.empty()) << c.name << ": " << Said();
    if (!c.warning.empty()) {
      EXPECT_NE(err_.str().find(c.warning), std::string::npos) << Said();
    }
  }
}

TEST_F(Publishing, WarnsAboutSigningThatAgentsWithKeysRefuse) {
  test::TestSigningKey key;
  key.WritePrivatePem((store_ / "key.pem").string());
  auto sign = [&](const fs::path& dir) {
    const fs::path at = store_ / ("root-" + dir.filename().string());
    fs::create_directories(at / "ORG");
    fs::create_directory_symlink(dir, at / "ORG/express");
    std::ostringstream ignored;
    EXPECT_EQ(
        RunSign({"--root", at.string(), "--key", (store_ / "key.pem").string()}, ignored, ignored),
        0);
    return dir;
  };
  const fs::path older = sign(Release("older", "1.0"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // signing times are in seconds
  ASSERT_EQ(Publish(sign(Release("newer", "1.1"))), 0) << Said();
  EXPECT_EQ(Said().find("warning: the release"), std::string::npos) << Said();

  ASSERT_EQ(Publish(older), 0) << Said();
  EXPECT_NE(err_.str().find(", before the one it replaces"), std::string::npos) << Said();
  ASSERT_EQ(Publish(Release("unsigned", "1.2")), 0) << Said();
  EXPECT_NE(err_.str().find("the release is not signed, while the one it replaces"),
            std::string::npos)
      << Said();
}

// Agents asking while releases are published over one another never find
// the component missing: every look sees one release or the other. (A
// swap by removing the link and making it again is caught here: most looks
// miss it.)
TEST_F(Publishing, TheComponentIsNeverMissingWhileItIsReplaced) {
  const fs::path a = Release("a", "1.0"), b = Release("b", "1.1");
  CopyIn(a);
  std::atomic<bool> done{false};
  std::atomic<int> looks{0}, missing{0};
  std::thread agent([&] {
    while (!done) {
      std::error_code ec;
      if (!fs::is_regular_file(Target() / "release.ini", ec)) ++missing;
      ++looks;
    }
  });
  while (looks == 0) std::this_thread::yield();  // the agent is looking
  for (int i = 0; i < 200; ++i) PutInPlace(i % 2 == 0 ? b : a, Target());
  done = true;
  agent.join();
  EXPECT_GT(looks, 200);
  EXPECT_EQ(missing, 0);
}

}  // namespace
}  // namespace mb::server
