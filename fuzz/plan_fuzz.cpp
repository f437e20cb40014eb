// libFuzzer target for a component pass driven by a hostile manifest: the
// agent object on the real file system and profile store in a temporary
// folder, a fake network that "downloads" a few bytes. Input: one byte for
// the component kind, then the manifest. Checks:
// - the download list agrees with itself: the count returned is the list's
//   size, every URL is the list base, "program=", the encoded name and the
//   folder, BACK_UP follows the names, LAST_VERSION is the same throughout;
// - every download goes to a file directly inside the update directory,
//   never anywhere else, whatever the manifest's names are.
// Target folders are the server's to choose (system32, the install folder,
// any path), so writes outside the temporary folder are refused by the file
// system wrapper rather than flagged; the fuzzer runs as root.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "agent/bas_win_api.h"
#include "agent/frm_tray.h"
#include "headless/fixed_process.h"
#include "headless/quiet_window_system.h"
#include "platform/posix/posix_codepage.h"
#include "platform/posix/posix_filesystem.h"
#include "platform/posix/posix_profile_store.h"
#include "support/error.h"

namespace {

namespace fs = std::filesystem;

void Check(bool ok) {
  if (!ok) std::abort();
}

// The temporary folder of this process, removed at exit. Held in a
// pointer that is never freed, so the exit handler can still read it.
const std::string& Root() {
  static const std::string* root = [] {
    char dir[] = "/tmp/mb-plan-fuzz-XXXXXX";
    Check(mkdtemp(dir) != nullptr);
    std::atexit([] { fs::remove_all(Root()); });
    return new std::string(dir);
  }();
  return *root;
}

std::string PosixOf(std::string path) {
  for (char& c : path) c = c == '\\' ? '/' : c;
  return path;
}

bool Inside(const std::string& path, const std::string& dir) {
  const std::string p = fs::weakly_canonical(PosixOf(path)).string();
  return p.rfind(dir + "/", 0) == 0;
}

// The real file system, refusing every change outside the temporary folder.
class Confined : public mb::posix::PosixFileSystem {
 public:
  void CreateDirectory(const std::string& p) override {
    Guard(p);
    PosixFileSystem::CreateDirectory(p);
  }
  void DeleteFile(const std::string& p) override {
    Guard(p);
    PosixFileSystem::DeleteFile(p);
  }
  void CopyFile(const std::string& from, const std::string& to) override {
    Guard(to);
    PosixFileSystem::CopyFile(from, to);
  }
  void Rename(const std::string& from, const std::string& to) override {
    Guard(to);
    PosixFileSystem::Rename(from, to);
  }
  void Append(const std::string& p, const std::string& bytes) override {
    Guard(p);
    PosixFileSystem::Append(p, bytes);
  }
  void MakeExecutable(const std::string& p) override {
    Guard(p);
    PosixFileSystem::MakeExecutable(p);
  }

 private:
  static void Guard(const std::string& p) {
    if (!Inside(p, Root())) throw mb::Error(75, "Path/File access error");
  }
};

class FakeNetwork : public mb::platform::Network {
 public:
  std::string update_dir;
  bool IsConnected() override { return true; }
  long Download(const std::string&, const std::string& path,
                const mb::platform::DownloadOptions& o) override {
    const std::string p = PosixOf(path);
    Check(fs::path(p).parent_path() == update_dir && Inside(p, update_dir));
    std::ofstream(p, std::ios::binary) << "payload";
    if (o.sink != nullptr) {
      o.sink->Restart();
      o.sink->Append("payload", 7);
    }
    return 0;
  }
};

class NoRegistry : public mb::platform::Registry {
 public:
  long OpenKey(std::uint32_t, const std::string&, std::uint32_t, mb::platform::RegKey*) override {
    return 2;
  }
  long QueryValue(mb::platform::RegKey, const std::string&, std::uint32_t*, std::uint8_t*,
                  std::uint32_t*) override {
    return 2;
  }
  long SetValue(mb::platform::RegKey, const std::string&, std::uint32_t, const std::uint8_t*,
                std::uint32_t) override {
    return 2;
  }
  long CloseKey(mb::platform::RegKey) override { return 0; }
};

struct World {
  mb::posix::IconvCodePage codepage{949};
  mb::posix::PosixProfileStore profiles{std::chrono::milliseconds(0)};
  Confined files;
  FakeNetwork net;
  NoRegistry registry;
  mb::headless::QuietWindowSystem windows;
  mb::headless::FixedProcess process;
  mb::platform::Platform p;
  World() {
    process.install = Root() + "/inst";
    net.update_dir = process.install + "/update";
    p = {&registry, &profiles, &files, &net, &codepage, &windows, &process};
  }
};

void CheckList(mb::frmTray& tray, std::int16_t kind, const std::string& manifest, World& w) {
  mb::DownloadList list;
  const std::int16_t n = tray.BuildDownloadList(kind, list);
  Check(n >= 0);
  if (n == 0) return;
  Check(static_cast<std::size_t>(n) == list.size());
  Check(!fs::exists(manifest));
  for (const mb::FileRecord& r : list) {
    const std::string enc = mb::basWinAPI::EncodeName(w.codepage, r.Name, "");
    const std::string tail = "program=" + enc + "&Folder=ORG";
    Check(r.DownloadUrl.size() > tail.size() &&
          r.DownloadUrl.compare(r.DownloadUrl.size() - tail.size(), tail.size(), tail) == 0);
    Check(r.BackUp == (r.Name == r.OrgName ? "NO" : "YES"));
    Check(r.LastVersion == list[0].LastVersion);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static World w;
  const auto kind = static_cast<std::int16_t>(data[0] % 3);
  const char* manifests[] = {"outlook_addin.ini", "express_plugin.ini", "mailbeacon_agent.ini"};
  fs::remove_all(w.process.install);
  fs::create_directories(w.net.update_dir);
  const std::string manifest = w.net.update_dir + "/" + manifests[kind];
  std::ofstream(manifest, std::ios::binary)
      .write(reinterpret_cast<const char*>(data) + 1, static_cast<std::streamsize>(size - 1));
  mb::frmTray tray(w.p);
  mb::AgentState& s = tray.State();
  s.ServerUrl = "http://h";
  s.VirtualDir = "/v";
  s.FolderParam = "&Folder=ORG";
  s.UpdateDir = w.process.install + "\\update";
  s.InstallIniPath = s.UpdateDir + "\\install_version.ini";
  s.DownloadIniPath = s.UpdateDir + "\\mailbeacon_download.ini";
  if (data[0] & 0x80) {
    CheckList(tray, kind, manifest, w);
  } else {
    tray.subDownLoadNewVersion(kind);  // the whole pass, downloads included
  }
  return 0;
}
