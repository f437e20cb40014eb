// The server's logs as a vendor keeps them: the warnings log holds findings
// and refusals only (one line each, the target once, a few a second), the
// access log one line per request; nothing a client sends can forge or
// garble a line or make one long; both are opened again for logrotate.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

#include "helpers/http_probe.h"
#include "helpers/temp_dir.h"
#include "server/log_text.h"
#include "server/request_log.h"
#include "server/server.h"

namespace mb::server {
namespace {

namespace fs = std::filesystem;

TEST(LogText, ClientBytesBecomeOneFieldOfPrintableCharacters) {
  EXPECT_EQ(LogText("/a?b=c*1", LogEscape::kClientField, 100), "/a?b=c*1");
  EXPECT_EQ(LogText("a b\r\nforged \"x\"\\\x1b[2J\x7f\xff\xc3\xa9", LogEscape::kClientField, 200),
            "a\\x20b\\x0d\\x0aforged\\x20\\x22x\\x22\\x5c\\x1b[2J\\x7f\\xff\\xc3\\xa9");
  // The vendor's text keeps spaces and Windows paths; no byte outside
  // printable ASCII (a client's bytes in a refusal: U+0085 NEL, U+2028, a
  // C1 CSI, a UTF-8 name alike).
  EXPECT_EQ(LogText("메일.dll: .\\addin\nnext", LogEscape::kVendorText, 200),
            "\\xeb\\xa9\\x94\\xec\\x9d\\xbc.dll: .\\addin\\x0anext");
  EXPECT_EQ(LogText("a\xc2\x85" "b\xe2\x80\xa8" "c\x9b" "2J", LogEscape::kVendorText, 200),
            "a\\xc2\\x85b\\xe2\\x80\\xa8c\\x9b2J");
  // A bound on the output, escapes never cut in half; the rest counted.
  EXPECT_EQ(LogText("abcdef", LogEscape::kClientField, 4), "abcd...(+2 bytes)");
  EXPECT_EQ(LogText("ab\x01z", LogEscape::kClientField, 5), "ab...(+2 bytes)");
}

class ServerLogs : public ::testing::Test {
 protected:
  ServerLogs() {
    test::WriteFile(temp_ / "release/pause.txt", "N\r\n");
    ServerOptions options;
    options.root = (temp_ / "release").string();
    options.log_file = (temp_ / "warnings.log").string();
    options.access_log_file = (temp_ / "access.log").string();
    server_ = std::make_unique<Server>(options);
    server_->Start();
  }

  std::vector<std::string> Lines(const std::string& name) {
    std::vector<std::string> lines;
    std::istringstream in(test::ReadFile(temp_ / name));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  int Count(const std::vector<std::string>& lines, const std::string& text) {
    int n = 0;
    for (const std::string& l : lines) n += l.find(text) != std::string::npos;
    return n;
  }

  // A request's lines are written once its answer went out, a moment after
  // the client has it.
  void WaitFor(const std::string& name, const std::string& text) {
    for (int i = 0; i < 500 && Count(Lines(name), text) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  test::TempDir temp_;
  std::unique_ptr<Server> server_;
};

TEST_F(ServerLogs, WarningsKeepRefusalsOnceAndAccessEveryRequestEscaped) {
  int port = server_->Port();
  const std::string pause = "/mailbeaconhome/download/pause.aspx";
  test::RawRequest(port, pause);
  test::RawRequest(port, "/nowhere?x=1");
  test::RawRequest(port, pause, "", "POST");
  std::string hostile = "/x\x1b[2J\x7f\xff\"\\forged";
  test::RawExchange(port, "GET " + hostile + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  test::RawRequest(port, "/" + std::string(12000, 'a'));
  server_->Stop();
  std::vector<std::string> access = Lines("access.log");
  std::vector<std::string> warnings = Lines("warnings.log");
  ASSERT_EQ(access.size(), 5u) << test::ReadFile(temp_ / "access.log");
  EXPECT_NE(access[0].find(" 127.0.0.1 GET " + pause + " 200 3"), std::string::npos) << access[0];
  EXPECT_NE(access[2].find(" POST " + pause + " 405 "), std::string::npos) << access[2];
  EXPECT_NE(access[3].find(" /x\\x1b[2J\\x7f\\xff\\x22\\x5cforged "), std::string::npos)
      << access[3];
  // A request adds a short line, whatever it sent.
  EXPECT_LT(access[4].size(), 1200u);
  EXPECT_NE(access[4].find("...(+"), std::string::npos);
  // The warnings log: refusals, one line each, the target once; no 200.
  EXPECT_EQ(Count(warnings, pause + " 200"), 0);
  ASSERT_EQ(Count(warnings, "/nowhere?x=1"), 1);
  EXPECT_NE(warnings[0].find("GET /nowhere?x=1 refused 404: not under"), std::string::npos)
      << warnings[0];
  EXPECT_EQ(Count(warnings, "refused 405: only GET and HEAD"), 1);
  for (const char* file : {"access.log", "warnings.log"}) {
    std::string bytes = test::ReadFile(temp_ / file);
    for (char c : bytes) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << file;
  }
}

// The refusal of a program value quotes the client's bytes: a NEL, a line
// separator or a C1 CSI in UTF-8 must not reach the log raw, where a viewer
// would start a forged line or read a terminal command.
TEST_F(ServerLogs, AClientsBytesInARefusalNeverReachTheWarningsRaw) {
  test::WriteFile(temp_ / "release/ORG/express/release.ini", "[RELEASE]\r\nLAST_VERSION=1\r\n");
  test::WriteFile(temp_ / "release/ORG/express/plugin.dll", "plugin");
  server_->Reload();
  const std::string forged = "1\xc2\x85" "2026-12-07_forged\xe2\x80\xa8x\xc2\x9b" "2J";
  test::RawExchange(server_->Port(), "GET /mailbeaconhome/download/express_exe.aspx?program=" +
                                         forged + "&Folder=ORG HTTP/1.1\r\nHost: x\r\n"
                                         "Connection: close\r\n\r\n");
  server_->Stop();
  const std::string warnings = test::ReadFile(temp_ / "warnings.log");
  EXPECT_NE(warnings.find("no published file has the program value 1\\xc2\\x852026-12-07_"
                          "forged\\xe2\\x80\\xa8x\\xc2\\x9b2J"),
            std::string::npos)
      << warnings;
  for (char c : warnings) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << warnings;
}

// A flood of refused requests: a few lines a second, the rest counted.
TEST_F(ServerLogs, RefusalsAreRateLimitedAndTheRestCounted) {
  int port = server_->Port();
  for (int i = 0; i < 60; ++i) test::RawRequest(port, "/flood/" + std::to_string(i));
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  test::RawRequest(port, "/after");
  server_->Stop();
  std::vector<std::string> warnings = Lines("warnings.log");
  int logged = Count(warnings, " refused 404: ");
  int counted = 0;
  std::regex more(" refused ([0-9]+) more requests");
  for (const std::string& line : warnings) {
    std::smatch m;
    if (std::regex_search(line, m, more)) counted += std::stoi(m[1]);
  }
  EXPECT_LE(logged, 3 * RequestLog::kRefusalsPerSecond);
  EXPECT_EQ(logged + counted, 61) << test::ReadFile(temp_ / "warnings.log");
  EXPECT_EQ(Lines("access.log").size(), 61u);
}

// logrotate moves the files away, then asks for new ones (SIGUSR1).
TEST_F(ServerLogs, ReopenStartsNewFilesOfTheSameNames) {
  int port = server_->Port();
  test::RawRequest(port, "/before");
  WaitFor("access.log", "/before ");
  fs::rename(temp_ / "access.log", temp_ / "access.log.1");
  fs::rename(temp_ / "warnings.log", temp_ / "warnings.log.1");
  test::RawRequest(port, "/between");  // still to the moved files
  WaitFor("access.log.1", "/between ");
  ASSERT_TRUE(server_->ReopenLogs());
  test::RawRequest(port, "/after");
  server_->Stop();
  EXPECT_EQ(Count(Lines("access.log.1"), "/between "), 1);
  EXPECT_EQ(Count(Lines("access.log"), "/after "), 1);
  EXPECT_EQ(Lines("access.log").size(), 1u);
  EXPECT_EQ(Count(Lines("warnings.log"), "/after refused 404"), 1);
  EXPECT_EQ(Count(Lines("warnings.log.1"), "/before refused 404"), 1);
}

}  // namespace
}  // namespace mb::server
