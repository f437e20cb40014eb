// What every fault test needs: an agent in a temporary install directory
// (real POSIX backends), an installed release 1.0, a hostile server that
// publishes release 1.1 of the plug-in and 2.0 of the agent, and the checks
// that a fault did no harm and that the next healthy start recovers.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "agent/bas_win_api.h"
#include "faults/hostile_server.h"
#include "helpers/agent_harness.h"
#include "support/md5.h"

namespace mb::test {

namespace fault_fs = std::filesystem;

struct PublishedFile {
  std::string name, body, org_name, target_dir, version;
};

// A manifest as the server writes it (CRLF lines, lower-case digests).
inline std::string ManifestText(const std::string& last_version,
                                const std::vector<PublishedFile>& files) {
  std::string m = "[DOWNLOAD]\r\nTOTAL_FILES=" + std::to_string(files.size()) +
                  "\r\nLAST_VERSION=" + last_version + "\r\n";
  for (std::size_t i = 0; i < files.size(); ++i) {
    const PublishedFile& f = files[i];
    m += "[FILE_" + std::to_string(i + 1) + "]\r\nNAME=" + f.name + "\r\nVERSION=" + f.version +
         "\r\nORG_NAME=" + f.org_name + "\r\nTARGET_DIR=" + f.target_dir +
         "\r\nSELF_REGISTER=N\r\nHASH=" + Md5HexOf(f.body) + "\r\n";
  }
  return m;
}

// Every regular file under root, by relative path, with its bytes.
inline std::map<std::string, std::string> Snapshot(const fault_fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fault_fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file())
      files[fault_fs::relative(e.path(), root).string()] = ReadFile(e.path());
  }
  return files;
}

class FaultTest : public ::testing::Test {
 protected:
  static constexpr const char* kPause = "/v/download/pause.aspx";
  static constexpr const char* kExpressManifest =
      "/v/download/express_exe.aspx?version=new&Folder=ORG";
  static constexpr const char* kAgentManifest = "/v/download/agent_exe.aspx?version=new&Folder=ORG";
  static constexpr const char* kNotice = "/v/download/update_notice.aspx?Folder=ORG";

  void SetUp() override {
    h.UseServer(server.Url(), "/v");
    fault_fs::create_directories(h.update);
    fault_fs::create_directories(h.install + "/plugins");
    WriteFile(h.install + "/SwiftPatcher_Mailbeacon.exe", "updater 1.0");
    WriteFile(h.install + "/plugins/plugin.dll", "plugin 1.0");
    WriteFile(
        h.UpdatePath("install_version.ini"),
        "[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\n[AGENT_DOWNLOAD]\r\n"
        "INSTALL_VERSION=1.0\r\n[plugin.dll]\r\nVERSION=1.0\r\nUPDATE=2006-01-01 10:00:00\r\n");
    express = {
        {"plugin.new", "plugin 1.1 " + std::string(3000, 'p'), "plugin.dll", ".\\plugins", "1.1"},
        {"help.txt", "help 1.1", "help.txt", ".", "1.1"}};
    agent = {{"SwiftPatcher_Mailbeacon.new", "updater 2.0 " + std::string(2000, 'u'),
              "SwiftPatcher_Mailbeacon.exe", ".", "2.0"},
             {"agent.cfg", "cfg 2.0", "agent.cfg", ".", "2.0"}};
    PublishHealthy();
  }

  std::string FileTarget(const std::string& endpoint, const std::string& name) {
    return "/v/download/" + endpoint + "?program=" + basWinAPI::EncodeName(h.codepage, name, "") +
           "&Folder=ORG";
  }
  std::string ExpressFile(const std::string& name) { return FileTarget("express_exe.aspx", name); }
  std::string AgentFile(const std::string& name) { return FileTarget("agent_exe.aspx", name); }

  // The healthy release: every endpoint answers as it should.
  void PublishHealthy() {
    server.Serve(kPause, "N\r\n");
    server.Serve(kExpressManifest, ManifestText("1.1", express));
    server.Serve(kAgentManifest, ManifestText("2.0", agent));
    for (const auto& f : express) server.Serve(ExpressFile(f.name), f.body);
    for (const auto& f : agent) server.Serve(AgentFile(f.name), f.body);
    server.Serve(kNotice, "Release 1.1");
  }

  // The agent's own release is the installed one: its pass has nothing to
  // do, so a run hands over only what the plug-in's pass lists.
  void AgentUpToDate() { server.Serve(kAgentManifest, ManifestText("1.0", agent)); }

  // A new start of the agent (a new process: nothing kept from earlier runs).
  int StartAgent(int runs = 1) {
    h.tray = std::make_unique<frmTray>(h.p);
    h.windows = RecordingWindowSystem{};
    h.process.starts.clear();
    return h.RunAgent(runs);
  }

  // After a faulty run: nothing outside the update directory changed (the
  // install and target folders, the registry), no temporary or partial file
  // anywhere, no hand-off (a pending-install list a completed pass wrote is
  // dropped by the next run), and every release file in the update directory is
  // whole (a file with other bytes than published, for example one whose
  // digest was rejected, is named in `foreign`).
  void ExpectNoHarm(const std::map<std::string, std::string>& before,
                    const std::vector<std::string>& foreign = {}) {
    const auto after = Snapshot(h.dir.path());
    for (const auto& [path, bytes] : after) {
      const fault_fs::path p(path);
      EXPECT_NE(p.filename().string()[0], '.') << "temporary file left: " << path;
      if (path.rfind("inst/update/", 0) == 0) continue;
      const auto was = before.find(path);
      EXPECT_TRUE(was != before.end()) << "file made outside the update directory: " << path;
      if (was != before.end()) {
        EXPECT_EQ(bytes, was->second) << "changed: " << path;
      }
    }
    for (const auto& [path, bytes] : before) {
      if (path.rfind("inst/update/", 0) != 0) {
        EXPECT_TRUE(after.count(path)) << "lost: " << path;
      }
    }
    for (const auto& [path, bytes] : after) {
      if (path.rfind("inst/update/", 0) != 0) continue;
      const std::string name = path.substr(12);
      if (name.rfind(".scratch/", 0) == 0) {
        ExpectKeptWhole(name.substr(9), bytes, after);
        continue;
      }
      if (std::count(foreign.begin(), foreign.end(), name) || IsAgentFile(name)) continue;
      const PublishedFile* f = Published(name);
      EXPECT_TRUE(f != nullptr) << "unknown file in the update directory: " << name;
      if (f != nullptr) {
        EXPECT_EQ(bytes, f->body) << "partial or foreign file at " << name;
      }
    }
    EXPECT_TRUE(h.process.starts.empty()) << "handed off after a fault";
  }

  // In the scratch area: a copy kept whole, or the first bytes of a file a
  // cut transfer kept, each beside its record.
  void ExpectKeptWhole(const std::string& name, const std::string& bytes,
                       const std::map<std::string, std::string>& files) {
    const auto ends = [&](const std::string& suffix) {
      return name.size() > suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
    };
    if (ends(".rec")) return;
    EXPECT_TRUE(files.count("inst/update/.scratch/" + name + ".rec")) << "no record: " << name;
    const PublishedFile* f =
        ends(".kept") || ends(".part") ? Published(name.substr(0, name.size() - 5)) : nullptr;
    ASSERT_TRUE(f != nullptr) << "unknown file in the scratch area: " << name;
    if (ends(".kept")) {
      EXPECT_EQ(bytes, f->body) << "kept copy not whole: " << name;
    } else {
      EXPECT_EQ(f->body.substr(0, bytes.size()), bytes) << "partial file of other bytes: " << name;
    }
  }

  static bool IsAgentFile(const std::string& name) {
    for (const char* own :
         {"install_version.ini", "update_log.txt", "pause.txt", "express_plugin.ini",
          "mailbeacon_agent.ini", "mailbeacon_download.ini", "instance.lock"}) {
      if (name == own) return true;
    }
    return false;
  }
  const PublishedFile* Published(const std::string& name) const {
    for (const auto* list : {&express, &agent}) {
      for (const auto& f : *list) {
        if (f.name == name) return &f;
      }
    }
    return nullptr;
  }

  // The next start against a healthy server completes the update: the new
  // updater is in place with a backup of the old one, every other file waits
  // whole in the update directory, listed, and the updater is started.
  // The install record keeps what it held, unless the fault destroyed it.
  void ExpectRecovers(bool record_kept = true) {
    PublishHealthy();
    ASSERT_EQ(StartAgent(), kExitHandOff);
    ASSERT_EQ(h.process.starts.size(), 1u);
    EXPECT_EQ(ReadFile(h.install + "/SwiftPatcher_Mailbeacon.exe"), agent[0].body);
    if (record_kept) {
      EXPECT_EQ(ReadFile(h.install + "/SwiftPatcher_Mailbeacon.exe_old"), "updater 1.0");
    }
    EXPECT_EQ(ReadFile(h.install + "/plugins/plugin.dll"), "plugin 1.0");
    for (const auto& f : express) EXPECT_EQ(ReadFile(h.UpdatePath(f.name)), f.body);
    EXPECT_EQ(ReadFile(h.UpdatePath("agent.cfg")), agent[1].body);
    const std::string list = ReadFile(h.UpdatePath("mailbeacon_download.ini"));
    EXPECT_NE(list.find("[EXPRESS_DOWNLOAD]\r\nTOTAL_FILES=2"), std::string::npos) << list;
    EXPECT_NE(list.find("[AGENT_DOWNLOAD]\r\nTOTAL_FILES=1"), std::string::npos) << list;
    if (!record_kept) return;
    const std::string record = ReadFile(h.UpdatePath("install_version.ini"));
    EXPECT_NE(record.find("[plugin.dll]\r\nVERSION=1.0\r\nUPDATE=2006-01-01 10:00:00"),
              std::string::npos)
        << record;
  }

  AgentHarness h;
  HostileServer server;
  std::vector<PublishedFile> express, agent;
};

}  // namespace mb::test
