// The vendor-server stand-in over real HTTP: a release folder on disk, a
// server on a free port, requests shaped as the agent sends them.
#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>

#include "helpers/http_probe.h"
#include "helpers/temp_dir.h"
#include "server/ansi_code_page.h"
#include "server/server.h"

namespace mb::server {
namespace {

using test::WriteFile;

const char kHelloMd5[] = "b1946ac92492d2347c6235b4d2611184";   // MD5 of "hello\n"
const char kEmptyMd5[] = "d41d8cd98f00b204e9800998ecf8427e";   // MD5 of ""
const char kKoreanMd5[] = "f33406fa94e5935ee6edd869ae71096c";  // MD5 of "korean bytes"
const char kKoreanUtf8[] = "\xEB\xA9\x94\xEC\x9D\xBC.dll";     // 메일.dll
const char kKoreanAnsi[] = "\xB8\xDE\xC0\xCF.dll";             // the same in CP949
const char kKoreanProgram[] = "-17637*-15604*619*673*681*681*";

class ReleaseServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Release("ORG/agent", "1.0.5");
    WriteFile(temp_ / "ORG/agent/Mailbeacon.exe", "hello\n");
    WriteFile(temp_ / "ORG/agent/empty.dat", "");
    WriteFile(temp_ / "ORG/agent" / kKoreanUtf8, "korean bytes");
    WriteFile(temp_ / "ORG/agent/files.ini",
              "[empty.dat]\nORDER=1\nVERSION=7\n"
              "[\xEB\xA9\x94\xEC\x9D\xBC.dll]\nORG_NAME=real.dll\nTARGET_DIR=.\\addin\n"
              "SELF_REGISTER=Y\n");
    Release("MIRROR/agent", "1.0.5-mirror");
    WriteFile(temp_ / "MIRROR/agent/Mailbeacon.exe", "mirror copy");
    Release("ORG/outlook", "3.0");
    WriteFile(temp_ / "ORG/outlook/addin.dll", "generic add-in");
    Release("ORG/outlook/2003", "3.0-2003");
    WriteFile(temp_ / "ORG/outlook/2003/addin.dll", "add-in for 2003");
    WriteFile(temp_ / "secret.txt", "outside the component folders");
  }

  void Release(const std::string& dir, const std::string& last_version) {
    WriteFile(temp_ / dir / "release.ini", "[RELEASE]\r\nLAST_VERSION=" + last_version + "\r\n");
  }

  Server& Started(const std::string& vdir = "/mailbeaconhome") {
    ServerOptions options;
    options.root = temp_.str();
    options.vdir = vdir;
    options.log_file = (temp_ / "server.log").string();
    options.access_log_file = (temp_ / "access.log").string();
    server_ = std::make_unique<Server>(options);
    server_->Start();
    return *server_;
  }

  // Status and body of a GET of the target.
  std::pair<int, std::string> Get(const std::string& target) {
    if (!server_) Started();
    httplib::Client client("127.0.0.1", server_->Port());
    httplib::Result result = client.Get(target.c_str());
    if (!result) return {0, ""};
    return {result->status, result->body};
  }

  std::string Body(const std::string& target) {
    auto [status, body] = Get(target);
    EXPECT_EQ(status, 200) << target;
    return body;
  }

  // The log once every request is finished: a line is written after its answer.
  std::string Log() {
    server_->Stop();
    return test::ReadFile(temp_ / "server.log");
  }

  test::TempDir temp_;
  std::unique_ptr<Server> server_;
};

const std::string kAgent = "/mailbeaconhome/download/agent_exe.aspx";
const std::string kOutlook = "/mailbeaconhome/download/outlook_dll.aspx";

TEST_F(ReleaseServerTest, ManifestListsEveryFileWithItsDigest) {
  std::string manifest = Body(kAgent + "?version=new&Folder=ORG");
  EXPECT_EQ(
      manifest,
      "[DOWNLOAD]\r\nTOTAL_FILES=3\r\nLAST_VERSION=1.0.5\r\n"
      // ORDER puts empty.dat first; the others follow by name.
      "\r\n[FILE_1]\r\nNAME=empty.dat\r\nVERSION=7\r\nORG_NAME=empty.dat\r\n"
      "TARGET_DIR=.\r\nSELF_REGISTER=N\r\nHASH=" +
          std::string(kEmptyMd5) +
          "\r\n"
          "\r\n[FILE_2]\r\nNAME=Mailbeacon.exe\r\nVERSION=1.0.5\r\nORG_NAME=Mailbeacon.exe\r\n"
          "TARGET_DIR=.\r\nSELF_REGISTER=N\r\nHASH=" +
          std::string(kHelloMd5) +
          "\r\n"
          "\r\n[FILE_3]\r\nNAME=" +
          std::string(kKoreanAnsi) +
          "\r\nVERSION=1.0.5\r\n"
          "ORG_NAME=real.dll\r\nTARGET_DIR=.\\addin\r\nSELF_REGISTER=Y\r\n"
          "HASH=" +
          std::string(kKoreanMd5) + "\r\n");
}

TEST_F(ReleaseServerTest, FolderSelectsOrgOrMirror) {
  EXPECT_NE(Body(kAgent + "?version=new&Folder=MIRROR").find("LAST_VERSION=1.0.5-mirror\r\n"),
            std::string::npos);
  EXPECT_NE(Body(kAgent + "?version=new").find("LAST_VERSION=1.0.5\r\n"), std::string::npos);
  EXPECT_EQ(Body(kAgent + "?program=650*670*678*681*671*674*670*672*684*683*619*674*693*674*"
                          "&Folder=MIRROR"),
            "mirror copy");
  EXPECT_EQ(Get(kAgent + "?version=new&Folder=ELSEWHERE").first, 404);
  EXPECT_EQ(Get(kOutlook + "?version=2003&Folder=MIRROR").first, 404);  // no such folder
}

TEST_F(ReleaseServerTest, OutlookVersionPicksItsSubFolderWhenThereIsOne) {
  EXPECT_NE(Body(kOutlook + "?version=2003&Folder=ORG").find("LAST_VERSION=3.0-2003\r\n"),
            std::string::npos);
  for (const char* other : {"12", "", "..", "2003/.."}) {
    EXPECT_NE(Body(kOutlook + "?version=" + other + "&Folder=ORG").find("LAST_VERSION=3.0\r\n"),
              std::string::npos)
        << other;
  }
  // a d d i n . d l l
  const std::string addin = "670*673*673*678*683*619*673*681*681*";
  EXPECT_EQ(Body(kOutlook + "?version=2003&program=" + addin + "&Folder=ORG"), "add-in for 2003");
  EXPECT_EQ(Body(kOutlook + "?version=12&program=" + addin + "&Folder=ORG"), "generic add-in");
}

TEST_F(ReleaseServerTest, ServesFilesByTheirEncodedNames) {
  EXPECT_EQ(Body(kAgent + "?program=" + kKoreanProgram + "&Folder=ORG"), "korean bytes");
  AnsiCodePage cp(949);
  EXPECT_EQ(Body(kAgent + "?program=" + *EncodeProgramName("Mailbeacon.exe", cp) + "&Folder=ORG"),
            "hello\n");
  EXPECT_EQ(Body(kAgent + "?program=" + *EncodeProgramName("empty.dat", cp)), "");
  // Sent in pieces: many read buffers and an odd tail.
  std::string big;
  for (unsigned i = 0; i < (1u << 20) + 3; ++i) big.push_back(static_cast<char>((i * 7919u) >> 3));
  WriteFile(temp_ / "ORG/agent/big.bin", big);
  server_->Reload();
  EXPECT_EQ(Body(kAgent + "?program=" + *EncodeProgramName("big.bin", cp)), big);
}

TEST_F(ReleaseServerTest, RefusesWhatIsNotAPublishedFile) {
  AnsiCodePage cp(949);
  std::filesystem::create_symlink(temp_ / "secret.txt", temp_ / "ORG/agent/link.txt");
  for (const char* name :
       {"..\\secret.txt", "../secret.txt", "/etc/passwd", "..", ".", "missing.dll", "release.ini",
        "files.ini", "link.txt", "Mailbeacon.exe/"}) {
    EXPECT_EQ(Get(kAgent + "?program=" + *EncodeProgramName(name, cp)).first, 404) << name;
  }
  // An empty value is no value, as for nginx: the manifest.
  EXPECT_EQ(Get(kAgent + "?program=").second, Body(kAgent));
  EXPECT_EQ(Get(kAgent + "?program=-573*").first, 404);    // a NUL
  EXPECT_EQ(Get(kAgent + "?program=-32195*").first, 404);  // not CP949 text
  EXPECT_EQ(Get(kAgent + "?program=garbage").first, 404);
  // The link leads out, so the manifest does not offer it either.
  EXPECT_EQ(Body(kAgent).find("link.txt"), std::string::npos);
}

TEST_F(ReleaseServerTest, UnknownEndpointsAndPathsAreNotFound) {
  for (const char* target : {"/mailbeaconhome/download/other.aspx", "/mailbeaconhome/download/",
                             "/mailbeaconhome/pause.aspx", "/download/pause.aspx",
                             "/mailbeaconhome/download/pause.aspx/x", "/"}) {
    EXPECT_EQ(Get(target).first, 404) << target;
  }
  EXPECT_EQ(Get("/MailBeaconHome/Download/Pause.aspx").first, 200);  // IIS ignores case
}

// A URL value ending in "/" makes agents ask "//mailbeaconhome/...": runs of
// "/" are merged, as common servers do; a target in absolute form (as sent
// to a proxy) loses its scheme and host, as nginx reads it.
TEST_F(ReleaseServerTest, SlashesMergeAndAbsoluteTargetsLoseTheirHost) {
  int port = Started().Port();
  for (const char* target :
       {"//mailbeaconhome/download/pause.aspx", "/mailbeaconhome//download///pause.aspx",
        "http://updates.example.com/mailbeaconhome/download/pause.aspx",
        "HTTP://[::1]:80//mailbeaconhome/download/pause.aspx"})
    EXPECT_EQ(test::RawRequest(port, target).body, "N") << target;
  // The query keeps its slashes; a version label with one is no label.
  EXPECT_NE(Body(kOutlook + "?version=2003//&Folder=ORG").find("LAST_VERSION=3.0\r\n"),
            std::string::npos);
  for (const char* target : {"http://user@host/mailbeaconhome/download/pause.aspx",
                             "http:///mailbeaconhome/download/pause.aspx", "pause.aspx"})
    EXPECT_EQ(test::RawRequest(port, target).status, 400) << target;
}

TEST_F(ReleaseServerTest, PauseAndNoticeAreServedAsTheyAre) {
  EXPECT_EQ(Body("/mailbeaconhome/download/pause.aspx"), "N");  // no pause.txt
  WriteFile(temp_ / "pause.txt", "R\r\nmaintenance\r\n");
  server_->Reload();
  EXPECT_EQ(Body("/mailbeaconhome/download/pause.aspx"), "R\r\nmaintenance\r\n");

  const std::string notice = "/mailbeaconhome/download/update_notice.aspx";
  EXPECT_EQ(Get(notice + "?Folder=ORG").first, 404);  // no notice yet
  WriteFile(temp_ / "notice.txt", "for everyone");
  WriteFile(temp_ / "notice/MIRROR.txt", "mirror only");
  server_->Reload();
  EXPECT_EQ(Body(notice + "?Folder=ORG"), "for everyone");
  EXPECT_EQ(Body(notice + "?Folder=MIRROR"), "mirror only");
  EXPECT_EQ(Body(notice), "for everyone");
}

TEST_F(ReleaseServerTest, VirtualDirectoryMayBeEmptyOrSpelledLoosely) {
  Started("");
  EXPECT_EQ(Body("/download/pause.aspx"), "N");
  EXPECT_EQ(Get("/mailbeaconhome/download/pause.aspx").first, 404);
  server_.reset();
  Started("app/updates/");
  EXPECT_EQ(Body("/app/updates/download/pause.aspx"), "N");
  EXPECT_EQ(Get("/download/pause.aspx").first, 404);
}

TEST_F(ReleaseServerTest, RecordsEveryRequestTargetInOrder) {
  Started();
  Get("/mailbeaconhome/download/pause.aspx");
  Get(kAgent + "?version=new&Folder=MIRROR");
  Get("/nowhere?x=1");
  EXPECT_EQ(server_->Requests(),
            (std::vector<std::string>{"/mailbeaconhome/download/pause.aspx",
                                      kAgent + "?version=new&Folder=MIRROR", "/nowhere?x=1"}));
  server_->ClearRequests();
  EXPECT_TRUE(server_->Requests().empty());
  Log();
  std::string access = test::ReadFile(temp_ / "access.log");
  EXPECT_NE(access.find(" 127.0.0.1 GET " + kAgent + "?version=new&Folder=MIRROR 200 "),
            std::string::npos)
      << access;
  EXPECT_NE(access.find(" 127.0.0.1 GET /nowhere?x=1 404 9\n"), std::string::npos) << access;
}

TEST_F(ReleaseServerTest, LeavesOutFilesTheAgentCouldNotAskFor) {
  WriteFile(temp_ / "ORG/agent/\xF0\x9F\x98\x80.dll", "emoji");  // no CP949 form
  WriteFile(temp_ / "ORG/agent/ spaced.dll", "the agent trims names");
  WriteFile(temp_ / "ORG/agent/.hidden", "editor leftovers");
  WriteFile(temp_ / "ORG/agent/files.ini", "[gone.dll]\nVERSION=1\n");
  std::string manifest = Body(kAgent);
  EXPECT_NE(manifest.find("TOTAL_FILES=3\r\n"), std::string::npos);
  EXPECT_EQ(manifest.find("[FILE_4]"), std::string::npos);
  // What the manifest leaves out is not served either.
  AnsiCodePage cp(949);
  EXPECT_EQ(Get(kAgent + "?program=" + *EncodeProgramName(" spaced.dll", cp)).first, 404);
  EXPECT_EQ(Get(kAgent + "?program=" + *EncodeProgramName(".hidden", cp)).first, 404);
  std::string log = Log();
  EXPECT_NE(log.find("code page 949 cannot hold"), std::string::npos);
  EXPECT_NE(log.find("gone.dll: in files.ini but not in the folder"), std::string::npos);
}

TEST_F(ReleaseServerTest, AnswersCarryValidatorsAndUnchangedOnesGet304) {
  Started();
  httplib::Client client("127.0.0.1", server_->Port());
  const std::string manifest = kAgent + "?version=new&Folder=ORG";
  httplib::Result first = client.Get(manifest.c_str());
  ASSERT_TRUE(first);
  std::string etag = first->get_header_value("ETag");
  std::string modified = first->get_header_value("Last-Modified");
  EXPECT_EQ(etag.size(), 34u) << etag;  // a quoted MD5
  EXPECT_NE(modified.find(" GMT"), std::string::npos);
  EXPECT_EQ(first->get_header_value("Cache-Control"), "max-age=2");
  for (const httplib::Headers& asks : {httplib::Headers{{"If-None-Match", etag}},
                                       httplib::Headers{{"If-None-Match", "\"x\", W/" + etag}},
                                       httplib::Headers{{"If-Modified-Since", modified}}}) {
    httplib::Result again = client.Get(manifest.c_str(), asks);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 304);
    EXPECT_EQ(again->body, "");
    EXPECT_EQ(again->get_header_value("ETag"), etag);
  }
  // The agent's own request: no validators, no-cache: the whole answer.
  httplib::Result agent =
      client.Get(manifest.c_str(), {{"Cache-Control", "no-cache"}, {"Pragma", "no-cache"}});
  ASSERT_TRUE(agent);
  EXPECT_EQ(agent->status, 200);
  EXPECT_EQ(agent->body, first->body);
  httplib::Result file = client.Get((kAgent + "?program=" + kKoreanProgram).c_str());
  EXPECT_EQ(file->get_header_value("Cache-Control"), "max-age=60");
  EXPECT_EQ(file->get_header_value("ETag"), "\"" + std::string(kKoreanMd5) + "\"");
  // A new release: the old validators no longer match.
  Release("ORG/agent", "1.0.6");
  server_->Reload();
  httplib::Result changed = client.Get(manifest.c_str(), {{"If-None-Match", etag}});
  EXPECT_EQ(changed->status, 200);
  EXPECT_NE(changed->body.find("LAST_VERSION=1.0.6"), std::string::npos);
  // Only GET and HEAD.
  httplib::Result head = client.Head(manifest.c_str());
  EXPECT_EQ(head->status, 200);
  EXPECT_EQ(head->body, "");
  httplib::Result post = client.Post(manifest.c_str(), "x", "text/plain");
  EXPECT_EQ(post->status, 405);
  EXPECT_EQ(post->get_header_value("Allow"), "GET, HEAD");
}

// A file read while it is sent (over the size kept in memory): the rest
// after a cut comes as 206 while the file is the same; once the release
// changed, the old ETag gets the new file whole, never its tail.
TEST_F(ReleaseServerTest, TheRestOfAFileComesOnlyFromTheSameFile) {
  std::string bytes(2 << 20, 'a');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 253);
  WriteFile(temp_ / "ORG/agent/big.bin", bytes);
  Started();
  httplib::Client client("127.0.0.1", server_->Port());
  const std::string big = kAgent + "?program=671*678*676*619*671*678*683*&Folder=ORG";
  httplib::Result whole = client.Get(big.c_str());
  ASSERT_TRUE(whole);
  ASSERT_EQ(whole->body, bytes);
  EXPECT_EQ(whole->get_header_value("Accept-Ranges"), "bytes");
  const std::string etag = whole->get_header_value("ETag");
  httplib::Result rest = client.Get(big.c_str(), {{"Range", "bytes=1500000-"}, {"If-Range", etag}});
  ASSERT_TRUE(rest);
  EXPECT_EQ(rest->status, 206);
  EXPECT_EQ(rest->get_header_value("Content-Range"), "bytes 1500000-2097151/2097152");
  EXPECT_EQ(rest->get_header_value("ETag"), etag);
  EXPECT_EQ(rest->body, bytes.substr(1500000));
  httplib::Result past = client.Get(big.c_str(), {{"Range", "bytes=2097152-"}});
  EXPECT_EQ(past->status, 416);
  EXPECT_EQ(past->get_header_value("Content-Range"), "bytes */2097152");
  bytes[0] = 'b';
  WriteFile(temp_ / "ORG/agent/big.new", bytes);
  std::filesystem::rename(temp_ / "ORG/agent/big.new", temp_ / "ORG/agent/big.bin");
  server_->Reload();
  httplib::Result changed =
      client.Get(big.c_str(), {{"Range", "bytes=1500000-"}, {"If-Range", etag}});
  EXPECT_EQ(changed->status, 200);
  EXPECT_EQ(changed->body, bytes);
}

TEST_F(ReleaseServerTest, SectionNamesMatchWithoutRegardToCase) {
  WriteFile(temp_ / "ORG/agent/release.ini", "[release]\r\nlast_version=1.0.7\r\n");
  WriteFile(temp_ / "ORG/agent/files.ini", "[MAILBEACON.EXE]\nORG_NAME=Renamed.exe\n");
  std::string manifest = Body(kAgent);
  EXPECT_NE(manifest.find("LAST_VERSION=1.0.7\r\n"), std::string::npos);
  EXPECT_NE(manifest.find("NAME=Mailbeacon.exe\r\nVERSION=1.0.7\r\nORG_NAME=Renamed.exe\r\n"),
            std::string::npos)
      << manifest;
  EXPECT_EQ(Log().find("in files.ini but not in the folder"), std::string::npos);
}

TEST_F(ReleaseServerTest, ComponentsThatCannotBeInstalledAreNotPublished) {
  const std::string express = "/mailbeaconhome/download/express_exe.aspx?version=new";
  auto publish = [&](const std::string& files_ini) {
    std::filesystem::remove_all(temp_ / "ORG/express");
    Release("ORG/express", "1");
    WriteFile(temp_ / "ORG/express/plugin.dll", "p");
    WriteFile(temp_ / "ORG/express/plugin_11.dll", "q");
    WriteFile(temp_ / "ORG/express/files.ini", files_ini);
    if (server_) server_->Reload();
    return Get(express).first;
  };
  for (const char* good :
       {"", "[plugin.dll]\nTARGET_DIR=C:\\Program Files\\X\n[plugin_11.dll]\nTARGET_DIR=system32\n",
        "[plugin.dll]\nTARGET_DIR=\\\\server\\share\\x\n[plugin_11.dll]\nTARGET_DIR=\\root\n",
        "[plugin.dll]\nTARGET_DIR=.\\addin\n[plugin_11.dll]\nTARGET_DIR=.x\n"}) {
    EXPECT_EQ(publish(good), 200) << good;
  }
  for (const char* bad :
       {"[plugin.dll]\nTARGET_DIR=sub\n", "[plugin.dll]\nTARGET_DIR=C:sub\n",
        "[plugin.dll]\nTARGET_DIR=System32\n", "[plugin.dll]\nTARGET_DIR=C:\\a|b\n",
        "[plugin.dll]\nTARGET_DIR=.\\con\n", "[plugin.dll]\nTARGET_DIR=\\\\server\n",
        "[plugin_11.dll]\nORG_NAME=PLUGIN.dll\n",
        "[plugin.dll]\nTARGET_DIR=.\\a\n[plugin_11.dll]\nTARGET_DIR=.\\A\\\nORG_NAME=plugin."
        "dll\n"}) {
    EXPECT_EQ(publish(bad), 500) << bad;
    // Nor are its files.
    EXPECT_EQ(Get("/mailbeaconhome/download/express_exe.aspx?program=" +
                  *EncodeProgramName("plugin.dll", AnsiCodePage(949)))
                  .first,
              404);
  }
  std::string log = Log();
  EXPECT_NE(log.find("plugin_11.dll: installed as .\\PLUGIN.dll, like plugin.dll"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("TARGET_DIR \"sub\" cannot work: a relative folder"), std::string::npos);
}

// Names the agents' list rules refuse: a file named like one of the
// agent's own, a name Windows cannot make or POSIX hides, a target in the
// update folder, two copies or targets that Windows takes for one, a file
// installed as another's backup. Agents would fail the pass at every
// start, so the component is not published.
TEST_F(ReleaseServerTest, ComponentsTheAgentsWouldRefuseAreNotPublished) {
  const std::string express = "/mailbeaconhome/download/express_exe.aspx?version=new";
  auto publish = [&](const std::string& extra_file, const std::string& files_ini) {
    std::filesystem::remove_all(temp_ / "ORG/express");
    Release("ORG/express", "1");
    WriteFile(temp_ / "ORG/express/plugin.dll", "p");
    if (!extra_file.empty()) WriteFile(temp_ / "ORG/express" / extra_file, "x");
    WriteFile(temp_ / "ORG/express/files.ini", files_ini);
    if (server_) server_->Reload();
    return Get(express).first;
  };
  EXPECT_EQ(publish("a..b.dll", "[plugin.dll]\nTARGET_DIR=.\\updates\n"), 200);
  const std::pair<const char*, const char*> bad[] = {
      {"install_version.ini", ""},
      {"Pause.TXT", ""},
      {"q?.dll", ""},
      {"nul.txt", ""},
      {"x.dll.", ""},
      {"PLUGIN.DLL", ""},
      {"plugin.dll_old", ""},
      {"", "[plugin.dll]\nORG_NAME=.plugin.dll\n"},
      {"", "[plugin.dll]\nTARGET_DIR=.\\update\n"},
      {"", "[plugin.dll]\nTARGET_DIR=.\\Update\\sub\n"},
      {"plugin.new", "[plugin.dll]\nORG_NAME=x.dll\n[plugin.new]\nORG_NAME=x.dll_old\n"},
  };
  for (const auto& [extra_file, files_ini] : bad) {
    EXPECT_EQ(publish(extra_file, files_ini), 500) << extra_file << " " << files_ini;
  }
  std::string log = Log();
  EXPECT_NE(log.find("install_version.ini: NAME \"install_version.ini\" is the name of one of the "
                     "agent's own files"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("plugin.dll: TARGET_DIR is the update folder"), std::string::npos);
  EXPECT_NE(log.find("plugin.new: installed as .\\x.dll_old, the backup of plugin.dll"),
            std::string::npos);
}

TEST_F(ReleaseServerTest, PauseFilesThatCannotWorkAreReported) {
  std::filesystem::remove_all(temp_ / "MIRROR");
  WriteFile(temp_ / "pause.txt", "Y\r\n");
  Started();
  std::vector<std::string> warnings = server_->Warnings();
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("no MIRROR folder"), std::string::npos);
  std::filesystem::create_directories(temp_ / "MIRROR");
  server_->Reload();
  EXPECT_TRUE(server_->Warnings().empty());
  WriteFile(temp_ / "pause.txt", "");
  server_->Reload();
  ASSERT_EQ(server_->Warnings().size(), 1u);
  EXPECT_NE(server_->Warnings()[0].find("pause.txt is empty"), std::string::npos);
  EXPECT_NE(Log().find("warning: pause.txt is empty"), std::string::npos);
}

// What the vendor publishes to pace the fleet: ROLLOUT from release.ini
// into the manifest's DOWNLOAD section, pause.txt's settings as they are.
TEST_F(ReleaseServerTest, StagedReleasesAndPollSettingsArePublished) {
  WriteFile(temp_ / "ORG/agent/release.ini", "[RELEASE]\nLAST_VERSION=1.0.5\nrollout = 025 \n");
  WriteFile(temp_ / "MIRROR/agent/release.ini", "[RELEASE]\nLAST_VERSION=1.0.5\nROLLOUT=25%\n");
  WriteFile(temp_ / "pause.txt", "N\r\nPOLL=3600\r\n");
  EXPECT_EQ(
      Body(kAgent + "?version=new&Folder=ORG")
          .rfind("[DOWNLOAD]\r\nTOTAL_FILES=3\r\nLAST_VERSION=1.0.5\r\nROLLOUT=25\r\n\r\n[FILE_1]",
                 0),
      0u);
  // Read as 100 by agents, a mistyped share would release to everyone at once.
  EXPECT_EQ(Get(kAgent + "?version=new&Folder=MIRROR").first, 500);
  EXPECT_EQ(Body("/mailbeaconhome/download/pause.aspx"), "N\r\nPOLL=3600\r\n");
  EXPECT_EQ(server_->Warnings().size(), 2u);         // the mistyped share, and the refusal
  WriteFile(temp_ / "pause.txt", "N\nPOLL=3600\n");  // a lone LF: all one first line
  server_->Reload();
  WriteFile(temp_ / "pause.txt", "N\r\npoll = soon\r\n");
  server_->Reload();
  const std::string log = Log();
  EXPECT_NE(log.find("ROLLOUT=25% is not a whole number from 0 to 100"), std::string::npos) << log;
  EXPECT_NE(log.find("pause.txt: the first line (up to the first CR) holds POLL"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("pause.txt: POLL=soon is not a whole number of seconds from 1 to 86400"),
            std::string::npos)
      << log;
}

TEST_F(ReleaseServerTest, ComponentWithoutReleaseVersionIsAnError) {
  WriteFile(temp_ / "ORG/express/plugin.dll", "x");
  EXPECT_EQ(Get("/mailbeaconhome/download/express_exe.aspx?version=new&Folder=ORG").first, 500);
  EXPECT_NE(Log().find("no [RELEASE] LAST_VERSION"), std::string::npos);
}

}  // namespace
}  // namespace mb::server
