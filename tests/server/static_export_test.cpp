// The static export served by a real nginx (started on a free loopback port
// and stopped after): every request an agent can make, and many it never
// makes, answered byte for byte as mailbeacon-server answers them; then a
// real agent updates through it.
#include "server/static_export.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "e2e/sandbox.h"
#include "helpers/http_probe.h"
#include "helpers/temp_dir.h"
#include "server/ansi_code_page.h"
#include "server/server.h"

namespace mb::server {
namespace {

namespace fs = std::filesystem;
using test::WriteFile;

const char kKorean[] = "\xEB\xA9\x94\xEC\x9D\xBC.dll";  // 메일.dll

int Export(const std::vector<std::string>& args, std::string* output = nullptr) {
  std::ostringstream out, err;
  int status = RunExport(args, out, err);
  if (output != nullptr) *output = out.str() + err.str();
  return status;
}

void Release(const fs::path& root) {
  WriteFile(root / "pause.txt", "Y\r\n");
  WriteFile(root / "notice.txt", "for everyone");
  WriteFile(root / "notice/MIRROR.txt", "mirror only");
  for (const char* folder : {"ORG", "MIRROR"}) {
    fs::path f = root / folder;
    WriteFile(f / "express/release.ini",
              std::string("[RELEASE]\nLAST_VERSION=1.1-") + folder + "\n");
    WriteFile(f / "express/plugin.dll", std::string("plugin of ") + folder);
    WriteFile(f / "express" / kKorean, "korean bytes");
    WriteFile(f / "express/ spaced.dll", "never published");
    WriteFile(f / "agent/release.ini", "[RELEASE]\nLAST_VERSION=2.0\n");
    WriteFile(f / "agent/agent.cfg", std::string("cfg of ") + folder);
  }
  WriteFile(root / "ORG/outlook/release.ini", "[RELEASE]\nLAST_VERSION=3.0\n");
  WriteFile(root / "ORG/outlook/addin.dll", "generic add-in");
  WriteFile(root / "ORG/outlook/2003/release.ini", "[RELEASE]\nLAST_VERSION=3.0-2003\n");
  WriteFile(root / "ORG/outlook/2003/addin.dll", "add-in for 2003");
}

// What agents ask, then what they never ask (both must still answer alike).
std::pair<std::vector<std::string>, std::vector<std::string>> Targets(const AnsiCodePage& cp) {
  const std::string d = "/mbh/download/";
  std::string plugin = *EncodeProgramName("plugin.dll", cp);
  std::string korean = *EncodeProgramName(kKorean, cp);
  std::string cfg = *EncodeProgramName("agent.cfg", cp);
  std::string addin = *EncodeProgramName("addin.dll", cp);
  std::vector<std::string> t = {// What agents ask.
                                d + "pause.aspx", d + "update_notice.aspx?Folder=ORG",
                                d + "update_notice.aspx?Folder=MIRROR", d + "update_notice.aspx"};
  for (const std::string folder : {"&Folder=ORG", "&Folder=MIRROR", ""}) {
    t.push_back(d + "express_exe.aspx?version=new" + folder);
    t.push_back(d + "agent_exe.aspx?version=new" + folder);
    t.push_back(d + "agent_exe.aspx?version=2003" + folder);
    t.push_back(d + "express_exe.aspx?program=" + plugin + folder);
    t.push_back(d + "express_exe.aspx?program=" + korean + folder);
    t.push_back(d + "agent_exe.aspx?program=" + cfg + folder);
    for (const std::string label : {"2000", "2002", "2003", "12", ""}) {
      t.push_back(d + "outlook_dll.aspx?version=" + label + folder);
      t.push_back(d + "outlook_dll.aspx?version=" + label + "&program=" + addin + folder);
    }
  }
  std::vector<std::string> odd = {
      "/MBH/Download/Pause.aspx",
      "/mbh/download/pause.aspx?x=1",
      "/mbh//download/pause.aspx",
      "/mbh/download/./pause.aspx",
      "/mbh/x/../download/pause.aspx",
      "/mbh/download/p%61use.aspx",
      "/mbh/download/pause.aspx/x",
      "/mbh/download/",
      "/mbh/download/other.aspx",
      "/",
      "/x",
      "/mbh/download/express_exe.aspx?VERSION=new&folder=org",
      "/mbh/download/express_exe.aspx?version=new&Folder=mirror",
      "/mbh/download/express_exe.aspx?version=new&Folder=",
      "/mbh/download/express_exe.aspx?version=new&Folder=ELSEWHERE",
      "/mbh/download/express_exe.aspx?version=new&Folder=%4FRG",
      "/mbh/download/express_exe.aspx?version=new&Folder=ORG&Folder=MIRROR",
      "/mbh/download/express_exe.aspx?Folder",
      "/mbh/download/express_exe.aspx?program=&Folder=ORG",
      "/mbh/download/express_exe.aspx?program=0" + plugin,
      "/mbh/download/express_exe.aspx?program=" + plugin + plugin,
      "/mbh/download/express_exe.aspx?program=" + plugin.substr(0, plugin.size() - 1),
      "/mbh/download/express_exe.aspx?PROGRAM=" + plugin + "&program=1*",
      "/mbh/download/express_exe.aspx?program=" + *EncodeProgramName(" spaced.dll", cp),
      "/mbh/download/express_exe.aspx?program=" + *EncodeProgramName("release.ini", cp),
      "/mbh/download/express_exe.aspx?program=" + *EncodeProgramName("../agent/agent.cfg", cp),
      "/mbh/download/express_exe.aspx?program=..%2F..%2Fpause.txt",
      "/mbh/download/express_exe.aspx?program=/etc/passwd",
      "/mbh/download/outlook_dll.aspx?version=../../ORG/agent&Folder=ORG",
      "/mbh/download/outlook_dll.aspx?version=2003%00&Folder=ORG",
      "/mbh/download/outlook_dll.aspx?version=2003/&program=" + addin,
      "/mbh/download/OUTLOOK_DLL.ASPX?Version=2003&Program=" + addin + "&FOLDER=Org",
      "/mbh/download/outlook_dll.aspx?version=2003&Folder=MIRROR",
      "/mbh/download/outlook_dll.aspx?version=2003;program=" + addin,
      "/mbh/download/update_notice.aspx?Folder=X",
      "/mbh/download/agent_exe.aspx?program=*"};
  return {t, odd};
}

TEST(StaticExport, NginxAnswersEveryRequestAsTheServerDoes) {
  if (test::NginxProgram().empty()) GTEST_SKIP() << "nginx is not installed";
  test::TempDir temp;
  Release(temp / "release");
  int port = test::FreePort();
  std::string output;
  ASSERT_EQ(Export({"--root", (temp / "release").string(), "--out", (temp / "export").string(),
                    "--vdir", "/mbh", "--listen", "127.0.0.1:" + std::to_string(port)},
                   &output),
            0)
      << output;
  EXPECT_NE(output.find("spaced.dll: left out"), std::string::npos) << output;
  test::OpenForNginx(temp.path());
  test::NginxProcess nginx(temp / "export", port);
  ASSERT_TRUE(nginx.Running()) << nginx.ErrorLog();

  ServerOptions options;
  options.root = (temp / "release").string();
  options.vdir = "/mbh";
  options.log_file = (temp / "server.log").string();
  Server server(options);
  server.Start();
  AnsiCodePage cp(949);
  auto [agent, odd] = Targets(cp);
  int found = 0;
  for (const std::vector<std::string>* targets : {&agent, &odd}) {
    for (const std::string& target : *targets) {
      test::RawAnswer ours = test::RawRequest(server.Port(), target);
      test::RawAnswer theirs = test::RawRequest(port, target);
      ASSERT_NE(ours.status, 0) << target;
      EXPECT_EQ(theirs.status, ours.status) << target;
      EXPECT_EQ(theirs.body, ours.body) << target;
      EXPECT_EQ(theirs.headers["content-type"], ours.headers["content-type"]) << target;
      found += targets == &agent && ours.status == 200;
    }
  }
  // Every agent request finds its answer, but the add-in's in MIRROR (none there).
  EXPECT_EQ(found, static_cast<int>(agent.size()) - 10);
  EXPECT_EQ(nginx.ErrorLog().find("[emerg]"), std::string::npos) << nginx.ErrorLog();
}

TEST(StaticExport, RefusesWhatCannotBeExported) {
  test::TempDir temp;
  WriteFile(temp / "ORG/express/release.ini", "[RELEASE]\nLAST_VERSION=1\n");
  WriteFile(temp / "ORG/express/a.dll", "a");
  WriteFile(temp / "ORG/express/files.ini", "[a.dll]\nTARGET_DIR=sub\n");
  std::string output;
  EXPECT_EQ(Export({"--root", temp.str(), "--out", (temp / "out").string()}, &output), 1);
  EXPECT_NE(output.find("a relative folder"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(temp / "out/nginx.conf"));
  EXPECT_EQ(Export({"--root", (temp / "none").string(), "--out", (temp / "out").string()}), 1);
  EXPECT_EQ(Export({"--root", temp.str()}), 2);
  EXPECT_EQ(Export({"--root", temp.str(), "--out", "x", "--listen", "1.2.3.4:80; evil"}), 2);
  EXPECT_EQ(Export({"--root", temp.str(), "--out", "x", "--vdir", "/a\"b"}), 2);
  EXPECT_EQ(Export({"--root", temp.str(), "--out", "x;y"}), 2);
}

TEST(StaticExport, AgentUpdatesThroughNginx) {
  if (test::NginxProgram().empty()) GTEST_SKIP() << "nginx is not installed";
  if (!fs::exists(fs::path(MB_BIN_DIR) / "Mailbeacon")) GTEST_SKIP() << "no agent built";
  test::Sandbox s;
  s.UseRealUpdater();
  s.Publish("express", "1.1", {{"plugin.dll", "plugin 1.1"}, {"메일.txt", "도움말"}});
  s.Publish("agent", "2.0", {{"agent.cfg", "cfg 2.0"}});
  test::TempDir exported;
  int port = test::FreePort();
  ASSERT_EQ(Export({"--root", s.release, "--out", (exported / "site").string(), "--vdir", "/mbh",
                    "--listen", "127.0.0.1:" + std::to_string(port)}),
            0);
  test::OpenForNginx(exported.path());
  test::NginxProcess nginx(exported / "site", port);
  ASSERT_TRUE(nginx.Running()) << nginx.ErrorLog();
  s.UseServerPort(port);
  s.WriteRegistry();
  test::ProgramResult r = s.RunAgent(3);
  ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_TRUE(s.WaitForUpdater());
  EXPECT_EQ(s.Read("inst/plugin.dll"), "plugin 1.1");
  EXPECT_EQ(s.Read("inst/메일.txt"), "도움말");
  EXPECT_EQ(s.Read("inst/agent.cfg"), "cfg 2.0");
  // Up to date now: the next start asks and finds nothing to do.
  EXPECT_EQ(s.RunAgent(2).status, 5);
}

}  // namespace
}  // namespace mb::server
