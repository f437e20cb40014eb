// A release republished while agents keep asking: a manifest always belongs
// to one release, its digests to that release's bytes, and a file is served
// only as the bytes of the digest it is published with (its ETag), never
// torn - whether the vendor swaps a folder link or writes files over in place.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "helpers/temp_dir.h"
#include "server/ansi_code_page.h"
#include "server/server.h"
#include "support/md5.h"

namespace mb::server {
namespace {

namespace fs = std::filesystem;

const std::string kManifest = "/mailbeaconhome/download/express_exe.aspx?version=new";
const char* const kNames[] = {"a.dll", "b.dll", "c.dll"};

// Release r's bytes of a file: sizes differ between releases, so a mix of
// two would show in the digest. c.dll is too large to be held in memory: it
// is served from its open file.
std::string Content(int r, const std::string& name) {
  std::size_t size = 20000 + 7000 * static_cast<std::size_t>(r) + (name == "c.dll" ? 1200000 : 0);
  return std::string(size, static_cast<char>('a' + r)) + name;
}

void WriteRelease(const fs::path& dir, int r) {
  for (const char* name : kNames) test::WriteFile(dir / name, Content(r, name));
  test::WriteFile(dir / "release.ini", "[RELEASE]\nLAST_VERSION=" + std::to_string(r) + "\n");
}

std::string Value(const std::string& text, std::size_t from, const std::string& key) {
  std::size_t at = text.find("\r\n" + key + "=", from);
  if (at == std::string::npos) return "";
  at += key.size() + 3;
  return text.substr(at, text.find('\r', at) - at);
}

class Republishing : public ::testing::Test {
 protected:
  void Start() {
    ServerOptions o;
    o.root = temp_.str();
    o.log_file = (temp_ / "server.log").string();
    o.check_interval_ms = 5;
    server_ = std::make_unique<Server>(o);
    server_->Start();
  }

  // Reads manifests and files while `writer` republishes; counts checks.
  void ReadWhile(const std::function<void(int)>& publish, bool manifests_whole) {
    std::atomic<bool> done{false};
    std::atomic<int> manifests{0}, files{0};
    std::thread writer([&] {
      for (int round = 0; round < 60; ++round) {
        publish(round % 3);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
      }
      done = true;
    });
    AnsiCodePage cp(949);
    std::vector<std::thread> readers;
    for (int t = 0; t < 2; ++t) {
      readers.emplace_back([&] {
        httplib::Client client("127.0.0.1", server_->Port());
        while (!done) {
          httplib::Result m = client.Get(kManifest.c_str());
          if (m && m->status == 200 && manifests_whole) {
            int r = std::stoi(Value(m->body, 0, "LAST_VERSION"));
            for (const char* name : kNames) {
              std::size_t at = m->body.find("NAME=" + std::string(name));
              EXPECT_EQ(Value(m->body, at, "HASH"), Md5HexOf(Content(r, name))) << m->body;
            }
            ++manifests;
          }
          for (const char* name : kNames) {
            std::string target =
                "/mailbeaconhome/download/express_exe.aspx?program=" + *EncodeProgramName(name, cp);
            httplib::Result f = client.Get(target.c_str());
            if (!f || f->status != 200) continue;  // cut short or refused: never torn
            EXPECT_EQ("\"" + Md5HexOf(f->body) + "\"", f->get_header_value("ETag")) << name;
            ++files;
          }
        }
      });
    }
    writer.join();
    for (std::thread& r : readers) r.join();
    if (manifests_whole) {
      EXPECT_GT(manifests, 0);
    }
    EXPECT_GT(files, 0);
  }

  test::TempDir temp_;
  std::unique_ptr<Server> server_;
};

TEST_F(Republishing, SwappedFolderLinkNeverTearsAnAnswer) {
  for (int r = 0; r < 3; ++r) WriteRelease(temp_ / ("releases/" + std::to_string(r)), r);
  fs::create_directories(temp_ / "ORG");
  fs::create_directory_symlink(temp_ / "releases/0", temp_ / "ORG/express");
  Start();
  ReadWhile(
      [&](int r) {
        fs::path fresh = temp_ / "ORG/express.new";
        fs::remove(fresh);
        fs::create_directory_symlink(temp_ / ("releases/" + std::to_string(r)), fresh);
        fs::rename(fresh, temp_ / "ORG/express");  // atomic
      },
      true);
}

TEST_F(Republishing, FilesWrittenOverInPlaceAreNeverServedTorn) {
  WriteRelease(temp_ / "ORG/express", 0);
  Start();
  ReadWhile([&](int r) { WriteRelease(temp_ / "ORG/express", r); }, false);
}

}  // namespace
}  // namespace mb::server
