// Links in a release folder: a file the server serves or parses is never a
// link (checked on the descriptor it reads, so a link flipped in between is
// never followed), while component and version folders may be links, and
// one that leads nowhere is reported and refused rather than left out in
// silence.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "helpers/http_probe.h"
#include "helpers/temp_dir.h"
#include "server/ansi_code_page.h"
#include "server/server.h"
#include "server/static_export.h"

namespace mb::server {
namespace {

namespace fs = std::filesystem;
using test::WriteFile;

const std::string kDownload = "/mailbeaconhome/download/";

class ReleaseLinks : public ::testing::Test {
 protected:
  ReleaseLinks() {
    WriteFile(temp_ / "secret.txt", "outside the release");
    Component("ORG/agent", "2.0");
    WriteFile(root_ / "ORG/agent/inside.dat", "inside");
  }

  void Component(const std::string& dir, const std::string& version) {
    WriteFile(root_ / dir / "release.ini", "[RELEASE]\nLAST_VERSION=" + version + "\n");
  }

  Server& Started() {
    ServerOptions options;
    options.root = root_.string();
    options.log_file = (temp_ / "server.log").string();
    server_ = std::make_unique<Server>(options);
    server_->Start();
    return *server_;
  }

  test::RawAnswer Get(const std::string& endpoint) {
    return test::RawRequest(server_->Port(), kDownload + endpoint);
  }

  bool Warned(const std::string& text) {
    for (const std::string& w : server_->Warnings())
      if (w.find(text) != std::string::npos) return true;
    return false;
  }

  std::string Program(const std::string& name) {
    return *EncodeProgramName(name, AnsiCodePage(949));
  }

  test::TempDir temp_;
  fs::path root_ = temp_ / "release";
  std::unique_ptr<Server> server_;
};

TEST_F(ReleaseLinks, NothingServedOrParsedIsALink) {
  const fs::path secret = temp_ / "secret.txt";
  fs::create_symlink(secret, root_ / "pause.txt");
  fs::create_directories(root_ / "notice");
  fs::create_symlink(secret, root_ / "notice/ORG.txt");
  WriteFile(root_ / "notice.txt", "notice for every folder");
  fs::create_symlink(root_ / "ORG/agent/inside.dat", root_ / "ORG/agent/beside.dat");
  fs::create_directories(root_ / "ORG/express");
  fs::create_symlink(secret, root_ / "ORG/express/release.ini");
  Component("ORG/outlook", "3.0");
  fs::create_symlink(secret, root_ / "ORG/outlook/files.ini");
  Started();
  // pause.txt: 500, so agents install nothing (an absent one would say N).
  EXPECT_EQ(Get("pause.aspx").status, 500);
  EXPECT_TRUE(Warned("pause.txt: a symbolic link"));
  // A refused notice of ORG is no notice, not the notice of every folder.
  EXPECT_EQ(Get("update_notice.aspx?Folder=ORG").status, 404);
  EXPECT_EQ(Get("update_notice.aspx?Folder=MIRROR").body, "notice for every folder");
  // A link even to a file beside it is not published; the file itself is.
  EXPECT_EQ(Get("agent_exe.aspx?program=" + Program("beside.dat")).status, 404);
  EXPECT_EQ(Get("agent_exe.aspx?program=" + Program("inside.dat")).body, "inside");
  EXPECT_EQ(Get("agent_exe.aspx?version=new").body.find("beside.dat"), std::string::npos);
  EXPECT_TRUE(Warned("beside.dat: left out, a symbolic link"));
  // Description files that are links refuse their component.
  EXPECT_EQ(Get("express_exe.aspx?version=new").status, 500);
  EXPECT_EQ(Get("outlook_dll.aspx?version=2003").status, 500);
  EXPECT_TRUE(Warned("files.ini: a symbolic link"));
  for (const std::string& w : server_->Warnings())
    EXPECT_EQ(w.find("outside the release"), std::string::npos) << w;
}

TEST_F(ReleaseLinks, FifoIsRefusedWithoutBlocking) {
  ASSERT_EQ(mkfifo((root_ / "pause.txt").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((root_ / "ORG/agent/pipe.dat").c_str(), 0600), 0);
  Started();  // would hang in the open of either
  EXPECT_EQ(Get("pause.aspx").status, 500);
  EXPECT_EQ(Get("agent_exe.aspx?version=new").body.find("pipe.dat"), std::string::npos);
}

// A link flipped between a file beside it and one outside, while snapshots
// are taken again and again: the outside file is never served. (The files
// before it in the folder make a snapshot take a while between listing the
// link and opening it.)
TEST_F(ReleaseLinks, FlippedLinkNeverServesWhatIsOutside) {
  for (int i = 0; i < 200; ++i)
    WriteFile(root_ / "ORG/agent" / ("a" + std::to_string(i) + ".dat"), std::string(500, 'a'));
  Started();
  std::atomic<bool> done{false};
  const fs::path link = root_ / "ORG/agent/zz_flip.dat";
  std::thread flipper([&] {
    for (int i = 0; !done; ++i) {
      fs::path fresh = link.string() + ".new";
      fs::remove(fresh);
      fs::create_symlink(i % 2 ? temp_ / "secret.txt" : root_ / "ORG/agent/inside.dat", fresh);
      fs::rename(fresh, link);
    }
  });
  int outside = 0;
  for (int i = 0; i < 40; ++i) {
    server_->Reload();
    outside +=
        Get("agent_exe.aspx?program=" + Program("zz_flip.dat")).body == "outside the release";
  }
  done = true;
  flipper.join();
  EXPECT_EQ(outside, 0);
}

// The publish command of docs/SERVER.md, run as written there (with the
// releases under the test's folder) over a first release laid out as a
// real folder, where a swap by ln and mv used to fail: the component is
// published, and the release it replaced kept.
TEST_F(ReleaseLinks, TheDocumentedSwapPublishes) {
  std::ifstream doc(fs::path(MB_SOURCE_DIR) / "docs/SERVER.md");
  std::string line, commands;
  bool continued = false;
  while (std::getline(doc, line)) {
    std::size_t at = line.find_first_not_of(' ');
    if (at == std::string::npos) at = line.size();
    if (continued || line.compare(at, 26, "mailbeacon-server publish ") == 0) {
      commands += line.substr(at) + "\n";
      continued = !line.empty() && line.back() == '\\';
    }
  }
  ASSERT_NE(commands.find("mailbeacon-server publish"), std::string::npos)
      << "no publish command in docs/SERVER.md";
  for (std::size_t at; (at = commands.find("/srv/mailbeacon")) != std::string::npos;)
    commands.replace(at, 15, temp_.str());
  commands.insert(0, std::string(MB_BIN_DIR) + "/");
  WriteFile(temp_ / "releases/express-1.0.6/release.ini", "[RELEASE]\nLAST_VERSION=1.0.6\n");
  WriteFile(temp_ / "releases/express-1.0.6/plugin.dll", "plugin 1.0.6");
  Component("ORG/express", "1.0.5");
  WriteFile(root_ / "ORG/express/plugin.dll", "plugin 1.0.5");
  std::string script = "cd '" + root_.string() + "' && " + commands;
  ASSERT_EQ(std::system(script.c_str()), 0) << script;
  Started();
  EXPECT_NE(Get("express_exe.aspx?version=new").body.find("LAST_VERSION=1.0.6\r\n"),
            std::string::npos)
      << script;
  EXPECT_EQ(test::ReadFile(root_ / "ORG/express.previous/plugin.dll"), "plugin 1.0.5");
}

// What the doc's command used to do: a relative target read from ORG/.
TEST_F(ReleaseLinks, FolderLinkThatLeadsNowhereIsReportedAndRefused) {
  fs::create_directories(root_ / "ORG/outlook");
  Component("ORG/outlook", "3.0");
  fs::create_directory_symlink("releases/1.0.6", root_ / "ORG/express");
  fs::create_directory_symlink("../../releases/2003", root_ / "ORG/outlook/2003");
  Started();
  EXPECT_EQ(Get("express_exe.aspx?version=new").status, 500);
  // The Outlook 2003 agents get no other release than theirs.
  EXPECT_EQ(Get("outlook_dll.aspx?version=2003").status, 500);
  EXPECT_EQ(Get("outlook_dll.aspx?version=12").status, 200);
  EXPECT_TRUE(Warned("ORG/express: a link that leads nowhere (to releases/1.0.6"));
  EXPECT_TRUE(Warned("ORG/outlook/2003: a link that leads nowhere"));
  server_->Stop();
  EXPECT_NE(test::ReadFile(temp_ / "server.log").find("a link that leads nowhere"),
            std::string::npos);
  std::ostringstream out, err;
  EXPECT_EQ(RunExport({"--root", root_.string(), "--out", (temp_ / "site").string()}, out, err), 1);
  EXPECT_NE(err.str().find("ORG/express: a link that leads nowhere"), std::string::npos)
      << err.str();
}

}  // namespace
}  // namespace mb::server
