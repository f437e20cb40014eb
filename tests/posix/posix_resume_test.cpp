// A resumable download over libcurl: the rest of kept bytes is asked with
// Range and If-Range and appended only when it is theirs; mailbeacon-server
// answers as a vendor's would, a hostile server as nothing should.
#include <sys/file.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "faults/hostile_server.h"
#include "helpers/temp_dir.h"
#include "platform/posix/posix_network.h"
#include "server/ansi_code_page.h"
#include "server/program_name.h"
#include "server/server.h"
#include "support/md5.h"

namespace mb::posix {
namespace {

namespace fs = std::filesystem;
using Plan = platform::BodyStart::Plan;
using test::ReadFile;
using test::WriteFile;

class RecordingKeeper : public platform::PartialKeeper {
 public:
  bool Keep(const platform::BodyStart& start) override {
    starts.push_back(start);
    return true;
  }
  std::vector<platform::BodyStart> starts;
};

std::string Bytes(std::size_t size, int seed) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    out[i] = static_cast<char>((i * 13 + seed + i / 251) & 0xFF);
  return out;
}

class CurlResumeTest : public ::testing::Test {
 protected:
  std::string Partial() const { return dir_.str() + "/f.part"; }
  std::string Dest() const { return dir_.str() + "/f.bin"; }
  // Bytes an earlier attempt kept, as the caller describes them.
  platform::PartialTransfer Kept(const std::string& bytes, std::string validator,
                                 std::int64_t total) {
    WriteFile(Partial(), bytes);
    return {Partial(), static_cast<std::int64_t>(bytes.size()), std::move(validator), total,
            &keeper_};
  }
  long Get(const std::string& url, const platform::PartialTransfer& partial) {
    platform::DownloadOptions o;
    o.connect_timeout_ms = 5000;
    o.stall_timeout_ms = 5000;
    o.partial = &partial;
    return net_.Download(url, Dest(), o);
  }

  test::TempDir dir_;
  RecordingKeeper keeper_;
  CurlNetwork net_;
};

// mailbeacon-server on a release folder with one file of 300 000 bytes.
class ServedFile {
 public:
  ServedFile() {
    Publish(Bytes(300000, 1));
    server::ServerOptions o;
    o.root = root_.str();
    o.log_file = (root_ / "server.log").string();
    server_ = std::make_unique<server::Server>(o);
    server_->Start();
  }
  void Publish(const std::string& bytes) {
    bytes_ = bytes;
    WriteFile(root_ / "ORG/express/release.ini", "[RELEASE]\nLAST_VERSION=1\n");
    WriteFile(root_ / "ORG/express/f.new", bytes);
    fs::rename(root_ / "ORG/express/f.new", root_ / "ORG/express/f.bin");
    if (server_) server_->Reload();
  }
  std::string Url() const {
    const server::AnsiCodePage cp(949);
    return "http://127.0.0.1:" + std::to_string(server_->Port()) +
           "/mailbeaconhome/download/express_exe.aspx?program=" +
           *server::EncodeProgramName("f.bin", cp) + "&Folder=ORG";
  }
  std::string ETag() const { return "\"" + Md5HexOf(bytes_) + "\""; }
  const std::string& bytes() const { return bytes_; }

 private:
  test::TempDir root_;
  std::unique_ptr<server::Server> server_;
  std::string bytes_;
};

TEST_F(CurlResumeTest, TheRestComesOnlyForBytesOfTheSameFile) {
  ServedFile served;
  const std::string first = served.bytes().substr(0, 100000);
  ASSERT_EQ(Get(served.Url(), Kept(first, served.ETag(), 300000)), platform::kDownloadOk);
  EXPECT_EQ(ReadFile(Dest()), served.bytes());
  EXPECT_FALSE(fs::exists(Partial()));  // it became the file
  ASSERT_EQ(keeper_.starts.size(), 1u);
  EXPECT_EQ(keeper_.starts[0].plan, Plan::kAppend);
  EXPECT_EQ(keeper_.starts[0].offset, 100000);

  // The file changed since: If-Range does not hold, the new one comes whole.
  const std::string old_etag = served.ETag();
  served.Publish(Bytes(300000, 2));
  keeper_.starts.clear();
  ASSERT_EQ(Get(served.Url(), Kept(first, old_etag, 300000)), platform::kDownloadOk);
  EXPECT_EQ(ReadFile(Dest()), served.bytes());
  ASSERT_EQ(keeper_.starts.size(), 1u);
  EXPECT_EQ(keeper_.starts[0].plan, Plan::kWhole);
  EXPECT_EQ(keeper_.starts[0].validator, served.ETag());

  // More kept than the file holds: 416, and the kept bytes go.
  fs::remove(Dest());
  EXPECT_EQ(Get(served.Url(), Kept(Bytes(300001, 2), served.ETag(), -1)),
            platform::kDownloadHttpError);
  EXPECT_FALSE(fs::exists(Partial()));
  EXPECT_FALSE(fs::exists(Dest()));
}

struct HostileCase {
  const char* label;
  test::Answer answer;
  long result;
  const char* partial_after;  // nullptr: removed
};

TEST_F(CurlResumeTest, AnswersThatDoNotContinueTheKeptBytesAreNeverSpliced) {
  const std::string body = "0123456789";
  const std::string part =
      "HTTP/1.1 206 Partial Content\r\nConnection: close\r\nContent-Length: 6\r\n";
  const HostileCase cases[] = {
      {"206 of another place",
       test::Raw(part + "ETag: \"v1\"\r\nContent-Range: bytes 3-8/10\r\n\r\n345678"),
       platform::kDownloadTransportError, nullptr},
      {"206 of another version",
       test::Raw(part + "ETag: \"v2\"\r\nContent-Range: bytes 4-9/10\r\n\r\n456789"),
       platform::kDownloadTransportError, nullptr},
      {"206 of another length",
       test::Raw(part + "ETag: \"v1\"\r\nContent-Range: bytes 4-9/11\r\n\r\n456789"),
       platform::kDownloadTransportError, nullptr},
      {"206 without Content-Range", test::Raw(part + "ETag: \"v1\"\r\n\r\n456789"),
       platform::kDownloadTransportError, nullptr},
      {"ranges ignored: the whole file", test::Tagged(test::Body(body), "\"v1\""),
       platform::kDownloadOk, nullptr},
      {"cut again, with a validator",
       test::Tagged(test::Broken(test::Fault::kShortBody, body), "\"v3\""),
       platform::kDownloadTransportError, "01234"},
      {"cut again, without one", test::Broken(test::Fault::kShortBody, body),
       platform::kDownloadTransportError, nullptr},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.label);
    test::HostileServer server;
    server.Set("/f", c.answer);
    fs::remove(Dest());
    EXPECT_EQ(Get(server.Url() + "/f", Kept("abcd", "\"v1\"", 10)), c.result);
    const std::vector<std::string> heads = server.Heads();
    ASSERT_EQ(heads.size(), 1u);
    EXPECT_NE(heads[0].find("\r\nRange: bytes=4-\r\n"), std::string::npos) << heads[0];
    EXPECT_NE(heads[0].find("\r\nIf-Range: \"v1\""), std::string::npos) << heads[0];
    EXPECT_EQ(fs::exists(Dest()), c.result == platform::kDownloadOk);
    if (c.result == platform::kDownloadOk) {
      EXPECT_EQ(ReadFile(Dest()), body);
    }
    if (c.partial_after == nullptr) {
      EXPECT_FALSE(fs::exists(Partial()));
    } else {
      EXPECT_EQ(ReadFile(Partial()), c.partial_after);
    }
  }
  // Nothing kept, nothing asked: a 206 is no whole file.
  test::HostileServer server;
  server.Set("/f", test::Raw(part + "Content-Range: bytes 4-9/10\r\n\r\n456789"));
  EXPECT_EQ(Get(server.Url() + "/f", Kept("", "", -1)), platform::kDownloadTransportError);
  EXPECT_EQ(server.Heads()[0].find("Range:"), std::string::npos);
  EXPECT_FALSE(fs::exists(Dest()));
}

TEST_F(CurlResumeTest, KeptBytesAnotherAgentHoldsAreLeftAlone) {
  test::HostileServer server;
  server.Set("/f", test::Tagged(test::Body("whole body"), "\"v1\""));
  const platform::PartialTransfer kept = Kept("whole", "\"v1\"", 10);
  const int other = open(Partial().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX), 0);
  EXPECT_EQ(Get(server.Url() + "/f", kept), platform::kDownloadOk);
  close(other);
  EXPECT_EQ(ReadFile(Dest()), "whole body");  // fetched whole, through a temporary file
  EXPECT_EQ(ReadFile(Partial()), "whole");    // untouched
  EXPECT_EQ(server.Heads()[0].find("Range:"), std::string::npos);
  EXPECT_TRUE(keeper_.starts.empty());
}

}  // namespace
}  // namespace mb::posix
