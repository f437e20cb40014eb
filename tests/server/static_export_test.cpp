// The static export served by a real nginx (started on a free loopback port
// and stopped after): every request an agent can make, and many it never
// makes, answered byte for byte as mailbeacon-server answers them; then a
// real agent updates through it.
#include "server/static_export.h"

#include <gtest/gtest.h>

#include <httplib.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <sstream>
#include <thread>

#include "e2e/sandbox.h"
#include "helpers/http_probe.h"
#include "helpers/temp_dir.h"
#include "server/ansi_code_page.h"
#include "server/publish/publish_command.h"
#include "server/server.h"
#include "support/md5.h"

namespace mb::server {
namespace {

namespace fs = std::filesystem;
using test::WriteFile;

const char kKorean[] = "\xEB\xA9\x94\xEC\x9D\xBC.dll";  // 메일.dll
// 70 characters: its program value (280) is cut into two folders.
const std::string kLongName = std::string(66, 'n') + ".dll";

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
    WriteFile(f / "express" / kLongName, "a long name");
    WriteFile(f / "express/ spaced.dll", "never published");
    WriteFile(f / "agent/release.ini", "[RELEASE]\nLAST_VERSION=2.0\nROLLOUT=40\n");
    WriteFile(f / "agent/agent.cfg", std::string("cfg of ") + folder);
  }
  WriteFile(root / "ORG/outlook/release.ini", "[RELEASE]\nLAST_VERSION=3.0\n");
  WriteFile(root / "ORG/outlook/addin.dll", "generic add-in");
  WriteFile(root / "ORG/outlook/2003/release.ini", "[RELEASE]\nLAST_VERSION=3.0-2003\n");
  WriteFile(root / "ORG/outlook/2003/addin.dll", "add-in for 2003");
  WriteFile(root / "ORG/outlook/Beta/release.ini", "[RELEASE]\nLAST_VERSION=3.1-beta\n");
  WriteFile(root / "ORG/outlook/Beta/addin.dll", "beta add-in");
  // Roots of trust: served as they are, whatever they hold.
  WriteFile(root / "keys/root.1.ini", "[ROOT]\r\nVERSION=1\r\n(root 1)\r\n");
  WriteFile(root / "keys/root.2.ini", "[ROOT]\r\nVERSION=2\r\n(root 2)\r\n");
  WriteFile(root / "keys/root.02.ini", "never served");
}

// What agents ask, then what they never ask (both must still answer alike).
std::pair<std::vector<std::string>, std::vector<std::string>> Targets(const AnsiCodePage& cp) {
  const std::string d = "/mbh/download/";
  std::string plugin = *EncodeProgramName("plugin.dll", cp);
  std::string korean = *EncodeProgramName(kKorean, cp);
  std::string long_name = *EncodeProgramName(kLongName, cp);
  std::string cfg = *EncodeProgramName("agent.cfg", cp);
  std::string addin = *EncodeProgramName("addin.dll", cp);
  std::vector<std::string> t = {// What agents ask.
                                d + "pause.aspx", d + "update_notice.aspx?Folder=ORG",
                                d + "update_notice.aspx?Folder=MIRROR", d + "update_notice.aspx",
                                d + "root.aspx?version=1", d + "root.aspx?version=2",
                                d + "root.aspx?version=3"};
  for (const std::string folder : {"&Folder=ORG", "&Folder=MIRROR", ""}) {
    t.push_back(d + "express_exe.aspx?version=new" + folder);
    t.push_back(d + "agent_exe.aspx?version=new" + folder);
    t.push_back(d + "agent_exe.aspx?version=2003" + folder);
    t.push_back(d + "express_exe.aspx?program=" + plugin + folder);
    t.push_back(d + "express_exe.aspx?program=" + korean + folder);
    t.push_back(d + "express_exe.aspx?program=" + long_name + folder);
    t.push_back(d + "agent_exe.aspx?program=" + cfg + folder);
    for (const std::string label : {"2000", "2002", "2003", "12", ""}) {
      t.push_back(d + "outlook_dll.aspx?version=" + label + folder);
      t.push_back(d + "outlook_dll.aspx?version=" + label + "&program=" + addin + folder);
    }
  }
  std::vector<std::string> odd = {
      "/MBH/Download/Pause.aspx", "/mbh/download/pause.aspx?x=1", "/mbh//download/pause.aspx",
      "/mbh/download/./pause.aspx", "/mbh/x/../download/pause.aspx", "/mbh/download/p%61use.aspx",
      "/mbh/download/pause.aspx/x", "/mbh/download/", "/mbh/download/other.aspx", "/", "/x",
      "/mbh/download/express_exe.aspx?VERSION=new&folder=org",
      "/mbh/download/express_exe.aspx?version=new&Folder=mirror",
      "/mbh/download/express_exe.aspx?version=new&Folder=",
      "/mbh/download/express_exe.aspx?version=new&Folder=ELSEWHERE",
      "/mbh/download/express_exe.aspx?version=new&Folder=%4FRG",
      "/mbh/download/express_exe.aspx?version=new&Folder=ORG&Folder=MIRROR",
      "/mbh/download/express_exe.aspx?Folder", "/mbh/download/express_exe.aspx?program=&Folder=ORG",
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
      "/mbh/download/update_notice.aspx?Folder=X", "/mbh/download/agent_exe.aspx?program=*",
      // Runs of "/" are merged (a URL value ending in "/"), and an absolute
      // form loses its scheme and host, by both.
      "//mbh/download/pause.aspx",
      "//mbh//download//express_exe.aspx?program=" + plugin + "&Folder=ORG",
      "/mbh/download/express_exe.aspx?program=" + plugin + "//",
      "http://example.com/mbh/download/pause.aspx",
      "HTTP://example.com:80//mbh/download/express_exe.aspx?version=new",
      "http://[::1]:8080/mbh/download/agent_exe.aspx?program=" + cfg,
      "http://example.com?version=new",
      "/mbh/download/express_exe.aspx?program=" + long_name.substr(0, 200),
      "/mbh/download/outlook_dll.aspx?version=BETA&program=" + addin,
      "/mbh/download/outlook_dll.aspx?version=bEtA",
      "/mbh/download/outlook_dll.aspx?version=beta&program=" + addin + "&Folder=MIRROR",
      "/mbh/download/root.aspx?version=01", "/mbh/download/root.aspx?version=0",
      "/mbh/download/root.aspx?version=", "/mbh/download/root.aspx",
      "/mbh/download/ROOT.ASPX?Version=1", "/mbh/download/root.aspx?version=1&Folder=X",
      "/mbh/download/root.aspx?version=2&program=" + plugin,
      "/mbh/download/root.aspx?version=1x", "/mbh/download/root.aspx?version=../pause",
      "/mbh/download/root.aspx?version=1234567890"};
  return {t, odd};
}

// The export that ReleaseServerOptions' server is compared with, for nginx on port.
std::vector<std::string> ExportArgsFor(const test::TempDir& temp, int port) {
  return {"--root",   (temp / "release").string(),
          "--out",    (temp / "export").string(),
          "--vdir",   "/mbh",
          "--listen", "127.0.0.1:" + std::to_string(port)};
}

// The server the export is compared with: the same release, the same vdir.
ServerOptions ReleaseServerOptions(const test::TempDir& temp) {
  ServerOptions options;
  options.root = (temp / "release").string();
  options.vdir = "/mbh";
  options.log_file = (temp / "server.log").string();
  return options;
}

TEST(StaticExport, NginxAnswersEveryRequestAsTheServerDoes) {
  if (test::NginxProgram().empty()) GTEST_SKIP() << "nginx is not installed";
  test::TempDir temp;
  Release(temp / "release");
  int port = test::FreePort();
  std::string output;
  ASSERT_EQ(Export(ExportArgsFor(temp, port), &output), 0) << output;
  EXPECT_NE(output.find("spaced.dll: left out"), std::string::npos) << output;
  test::OpenForNginx(temp.path());
  test::NginxProcess nginx(temp / "export", port);
  ASSERT_TRUE(nginx.Running()) << nginx.ErrorLog();

  Server server(ReleaseServerOptions(temp));
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
  // Every agent request finds its answer, but the add-in's in MIRROR (none
  // there) and the root after the newest.
  EXPECT_EQ(found, static_cast<int>(agent.size()) - 11);
  // Malformed targets: 400 from both (the bodies differ, as for any 400).
  for (const std::string target :
       {"http://user@example.com/mbh/download/pause.aspx", "http:///mbh/download/pause.aspx",
        "1a://x/mbh/download/pause.aspx"})
    EXPECT_EQ(test::RawRequest(port, target).status, test::RawRequest(server.Port(), target).status)
        << target;
  EXPECT_EQ(nginx.ErrorLog().find("[emerg]"), std::string::npos) << nginx.ErrorLog();
}

// Ranges of every kind of answer (a text, a small file held in memory, a
// file read while it is sent), with and without If-Range, and HEAD.
TEST(StaticExport, NginxAnswersRangesAsTheServerDoes) {
  if (test::NginxProgram().empty()) GTEST_SKIP() << "nginx is not installed";
  test::TempDir temp;
  Release(temp / "release");
  std::string big(3 << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
  WriteFile(temp / "release/ORG/express/big.bin", big);
  int port = test::FreePort();
  ASSERT_EQ(Export(ExportArgsFor(temp, port)), 0);
  test::OpenForNginx(temp.path());
  test::NginxProcess nginx(temp / "export", port);
  ASSERT_TRUE(nginx.Running()) << nginx.ErrorLog();
  Server server(ReleaseServerOptions(temp));
  server.Start();
  AnsiCodePage cp(949);
  const std::string d = "/mbh/download/";
  const std::vector<std::string> targets = {
      d + "pause.aspx", d + "express_exe.aspx?version=new&Folder=ORG",
      d + "express_exe.aspx?program=" + *EncodeProgramName("plugin.dll", cp) + "&Folder=ORG",
      d + "express_exe.aspx?program=" + *EncodeProgramName("big.bin", cp) + "&Folder=ORG",
      d + "express_exe.aspx?program=0"};  // 404: never ranged
  const std::vector<std::string> ranges = {"bytes=0-",
                                           "bytes=3-",
                                           "bytes=2-5",
                                           "bytes=-4",
                                           "bytes=1048570-1048580",
                                           "bytes=3145000-",
                                           "bytes=3-100000000",
                                           "bytes=0-1,4-5",
                                           "bytes=20-30,1-2",
                                           "bytes=5-3",
                                           "bytes=3145728-",
                                           "bytes=99999999999999999999-",
                                           "bytes=-0",
                                           "bytes=abc",
                                           "Bytes= 3 - 5",
                                           "bytes=",
                                           "items=1-",
                                           "bytes=3-,"};
  auto expect_alike = [&](const std::string& target, const std::string& headers,
                          const std::string& method = "GET") {
    test::RawAnswer ours = test::RawRequest(server.Port(), target, headers, method);
    test::RawAnswer theirs = test::RawRequest(port, target, headers, method);
    const std::string what = method + " " + target + " " + headers;
    EXPECT_NE(ours.status, 0) << what;
    EXPECT_EQ(theirs.status, ours.status) << what;
    EXPECT_EQ(theirs.body, ours.body) << what;
    EXPECT_EQ(theirs.headers["content-type"], ours.headers["content-type"]) << what;
    EXPECT_EQ(theirs.headers["content-range"], ours.headers["content-range"]) << what;
    EXPECT_EQ(theirs.headers["content-length"], ours.headers["content-length"]) << what;
    return ours.status;
  };
  std::vector<int> parts;
  for (const std::string& target : targets) {
    parts.push_back(0);
    for (const std::string& range : ranges)
      parts.back() += expect_alike(target, "Range: " + range + "\r\n") == 206;
    // If-Range: each server's own validators hold; another tag, a weak one
    // and another date ask for the whole body.
    for (int server_port : {server.Port(), port}) {
      test::RawAnswer plain = test::RawRequest(server_port, target);
      const std::string etag = plain.headers["etag"];
      const std::string date = plain.headers["last-modified"];
      for (const std::string& if_range : {etag, date, "W/" + etag, std::string("\"other\""),
                                          std::string("Thu, 01 Jan 1970 00:00:01 GMT")}) {
        if (if_range.empty()) continue;
        test::RawAnswer a = test::RawRequest(server_port, target,
                                             "Range: bytes=1-\r\nIf-Range: " + if_range + "\r\n");
        const bool holds = if_range == etag || if_range == date;
        EXPECT_EQ(a.status, plain.status == 200 && holds ? 206 : plain.status)
            << server_port << " " << target << " If-Range: " << if_range;
      }
    }
    expect_alike(target, "Range: bytes=3-\r\n", "HEAD");
    expect_alike(target, "Range: bytes=30000000-\r\n", "HEAD");
  }
  EXPECT_EQ(parts, (std::vector<int>{5, 6, 7, 8, 0}));  // 206 answers per target
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
  EXPECT_EQ(Export({"--root", temp.str(), "--out", "x$y"}), 2);
  EXPECT_EQ(Export({"--root", temp.str(), "--out", "x?y"}), 2);
}

// A vendor's path for a non-ASCII file name, with the defaults of every
// command (code page 949) and an agent on a Korean system that holds the
// signing key: the plug-in's release put in place by publish, signed,
// exported, served by nginx, installed by the agent under its own name.
TEST(StaticExport, AgentUpdatesThroughNginx) {
  if (test::NginxProgram().empty()) GTEST_SKIP() << "nginx is not installed";
  if (!fs::exists(fs::path(MB_BIN_DIR) / "Mailbeacon")) GTEST_SKIP() << "no agent built";
  test::Sandbox s;
  s.UseRealUpdater();
  test::TempDir store;
  const fs::path express = store / "express-1.1";
  WriteFile(express / "release.ini", "[RELEASE]\nLAST_VERSION=1.1\n");
  WriteFile(express / "plugin.dll", "plugin 1.1");
  WriteFile(express / "메일.txt", "도움말");
  std::ostringstream said;
  ASSERT_EQ(
      RunPublish({"--root", s.release, "--component", "ORG/express", "--release", express.string()},
                 said, said),
      0)
      << said.str();
  s.Publish("agent", "2.0", {{"agent.cfg", "cfg 2.0"}});
  s.SignReleases();
  ASSERT_TRUE(fs::exists(express / "signature.ini"));  // signed through publish's link
  test::TempDir exported;
  int port = test::FreePort();
  ASSERT_EQ(Export({"--root", s.release, "--out", (exported / "site").string(), "--vdir", "/mbh",
                    "--listen", "127.0.0.1:" + std::to_string(port)}),
            0);
  test::OpenForNginx(exported.path());
  test::NginxProcess nginx(exported / "site", port);
  ASSERT_TRUE(nginx.Running()) << nginx.ErrorLog();
  s.UseServerPort(port);
  s.WriteRegistry("express", "\"TrustedKeys\"=\"" + s.SigningKey()->PublicBase64() + "\"\n");
  test::ProgramResult r = s.RunAgent(3);
  ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_TRUE(s.WaitForUpdater());
  EXPECT_EQ(s.Read("inst/plugin.dll"), "plugin 1.1");
  EXPECT_EQ(s.Read("inst/메일.txt"), "도움말");
  EXPECT_EQ(s.Read("inst/agent.cfg"), "cfg 2.0");
  EXPECT_NE(s.Read("inst/update/accepted_signatures.ini").find("[EXPRESS_DOWNLOAD]"),
            std::string::npos);
  // Up to date now: the next start asks and finds nothing to do.
  EXPECT_EQ(s.RunAgent(2).status, 5);
}

// Release r has three of five names, a different three each time, so a
// re-export renames, adds and drops files: what nginx answered for one name
// at the start would be another file's now, were it looked up by position.
void PublishRotated(const fs::path& root, int r) {
  fs::remove_all(root / "ORG/express");
  for (int i = 0; i < 3; ++i) {
    std::string name = "f" + std::to_string((i + r) % 5) + ".dll";
    WriteFile(root / "ORG/express" / name, name + " of release " + std::to_string(r));
  }
  const std::string v = std::to_string(r);
  WriteFile(root / "ORG/express/release.ini", "[RELEASE]\nLAST_VERSION=" + v + "\n");
  // Odd releases have a version folder for Outlook 2003, even ones do not.
  fs::remove_all(root / "ORG/outlook");
  WriteFile(root / "ORG/outlook/release.ini", "[RELEASE]\nLAST_VERSION=" + v + "\n");
  WriteFile(root / "ORG/outlook/addin.dll", "generic add-in of release " + v);
  if (r % 2 == 0) return;
  WriteFile(root / "ORG/outlook/2003/release.ini", "[RELEASE]\nLAST_VERSION=" + v + "\n");
  WriteFile(root / "ORG/outlook/2003/addin.dll", "add-in for 2003 of release " + v);
}

// What an Outlook 2003 agent gets must come from one release: the version
// folder's file from an odd one, the generic file from an even one.
bool AddinIsOneRelease(const std::string& body) {
  std::size_t at = body.rfind(' ');
  if (at == std::string::npos) return false;
  bool odd = std::stoi(body.substr(at + 1)) % 2 == 1;
  return body.rfind(odd ? "add-in for 2003 of release " : "generic add-in of release ", 0) == 0;
}

// The NAME/HASH pairs of a manifest, checked against release LAST_VERSION.
bool ManifestIsOneRelease(const std::string& manifest) {
  std::size_t at = manifest.find("LAST_VERSION=");
  if (at == std::string::npos) return false;
  std::string version = manifest.substr(at + 13, manifest.find('\r', at) - at - 13);
  int files = 0;
  for (std::size_t n = manifest.find("\nNAME="); n != std::string::npos;
       n = manifest.find("\nNAME=", n + 1), ++files) {
    std::string name = manifest.substr(n + 6, manifest.find('\r', n) - n - 6);
    std::size_t h = manifest.find("HASH=", n);
    if (manifest.substr(h + 5, 32) != Md5HexOf(name + " of release " + version)) return false;
  }
  return files == 3;
}

TEST(StaticExport, ReexportsAreServedAtOnceAndNeverAsAnotherFilesBytes) {
  if (test::NginxProgram().empty()) GTEST_SKIP() << "nginx is not installed";
  test::TempDir temp;
  const fs::path root = temp / "release", out = temp / "site";
  int port = test::FreePort();
  auto reexport = [&](int r) {
    PublishRotated(root, r);
    return Export({"--root", root.string(), "--out", out.string(), "--vdir", "/mbh", "--listen",
                   "127.0.0.1:" + std::to_string(port)});
  };
  ASSERT_EQ(reexport(0), 0);
  test::OpenForNginx(temp.path());
  test::NginxProcess nginx(out, port);
  ASSERT_TRUE(nginx.Running()) << nginx.ErrorLog();
  AnsiCodePage cp(949);
  const std::string d = "/mbh/download/express_exe.aspx";
  std::atomic<bool> done{false};
  std::atomic<int> answers{0}, wrong{0};
  auto ask = [&](int first) {
    httplib::Client client("127.0.0.1", port);  // kept alive, as agents do
    for (int i = first; !done; ++i) {
      std::string name = "f" + std::to_string(i % 5) + ".dll";
      httplib::Result file = client.Get(d + "?program=" + *EncodeProgramName(name, cp));
      httplib::Result manifest = client.Get(d + "?version=new");
      if (!file || !manifest || (file->status != 200 && file->status != 404)) ++wrong;
      if (file && file->status == 200 && file->body.rfind(name + " of release ", 0) != 0) ++wrong;
      if (manifest && !ManifestIsOneRelease(manifest->body)) ++wrong;
      httplib::Result addin = client.Get("/mbh/download/outlook_dll.aspx?version=2003&program=" +
                                         *EncodeProgramName("addin.dll", cp));
      if (!addin || (addin->status == 200 && !AddinIsOneRelease(addin->body))) ++wrong;
      ++answers;
    }
  };
  std::vector<std::thread> clients;
  for (int c = 0; c < 3; ++c) clients.emplace_back(ask, c);
  for (int r = 1; r <= 8; ++r) {
    EXPECT_EQ(reexport(r), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
  }
  done = true;
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(wrong, 0) << "of " << answers << " answers";
  EXPECT_GT(answers, 100);
  // The last export is served without a reload, once nginx's cached
  // descriptors (1 s) are renewed; two exports are kept.
  std::string last;
  for (int i = 0; i < 40 && last.find("LAST_VERSION=8\r\n") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    last = test::RawRequest(port, d + "?version=new").body;
  }
  EXPECT_NE(last.find("LAST_VERSION=8\r\n"), std::string::npos) << last;
  EXPECT_EQ(test::RawRequest(port, d + "?program=" + *EncodeProgramName("f0.dll", cp)).body,
            "f0.dll of release 8");
  int kept = 0;
  for (auto& e : fs::directory_iterator(out / "exports")) kept += e.is_directory();
  EXPECT_EQ(kept, 2);
}

// Adds o+x to dir and the folders above it, nothing inside.
void OpenTheWayTo(const fs::path& dir) {
  for (fs::path p = dir; !p.empty() && p != p.root_path(); p = p.parent_path())
    fs::permissions(p, fs::perms::others_exec, fs::perm_options::add);
}

TEST(StaticExport, WritesNothingThroughLinksAndLeavesNginxWhatItMustRead) {
  test::TempDir temp;
  Release(temp / "release");
  const fs::path out = temp / "site with spaces";
  WriteFile(temp / "victim", "keep");
  fs::create_directories(out);
  for (const char* planted : {"nginx.conf", "mailbeacon-maps.conf", "current"})
    fs::create_symlink(temp / "victim", out / planted);
  int port = test::FreePort();
  std::vector<std::string> args = {
      "--root",   (temp / "release").string(),        "--out", out.string(), "--vdir", "/mbh",
      "--listen", "127.0.0.1:" + std::to_string(port)};
  std::string output;
  mode_t umask_before = umask(077);  // a strict umask, as on hardened hosts
  int status = Export(args, &output);
  umask(umask_before);
  ASSERT_EQ(status, 0) << output;
  EXPECT_EQ(test::ReadFile(temp / "victim"), "keep");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out / "nginx.conf")));
  // The temporary folder is the test's own (0700): the export says so.
  EXPECT_NE(output.find(temp.str() + " cannot be passed by other users"), std::string::npos)
      << output;
  EXPECT_NE(output.find("Start nginx on it: nginx -p '" + out.string() + "' -c nginx.conf"),
            std::string::npos)
      << output;
  for (auto it = fs::recursive_directory_iterator(out); it != fs::recursive_directory_iterator();
       ++it) {
    if (it->path().filename() == ".export.lock" || it->is_symlink()) continue;
    fs::perms need =
        fs::perms::others_read | (it->is_directory() ? fs::perms::others_exec : fs::perms::none);
    EXPECT_EQ(it->status().permissions() & need, need) << it->path();
  }
  if (!test::NginxProgram().empty()) {
    OpenTheWayTo(temp.path());  // only the way there: the export opened the rest
    test::NginxProcess nginx(out, port);
    ASSERT_TRUE(nginx.Running()) << nginx.ErrorLog();
    EXPECT_EQ(test::RawRequest(port, "/mbh/download/express_exe.aspx?version=new").status, 200);
  }
  // Again with the same options: nothing to reload. With others: reload once.
  ASSERT_EQ(Export(args, &output), 0);
  EXPECT_NE(output.find("no reload needed; run this export again"), std::string::npos) << output;
  args.insert(args.end(), {"--max-age", "5"});
  ASSERT_EQ(Export(args, &output), 0);
  EXPECT_NE(output.find("The nginx configuration changed: reload nginx once"), std::string::npos)
      << output;
}

}  // namespace
}  // namespace mb::server
