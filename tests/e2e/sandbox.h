// A sandbox for end-to-end runs of the real programs: an install directory
// holding copies of Mailbeacon and the updater, a registry file, a release
// folder served by a mailbeacon-server process on loopback.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "helpers/temp_dir.h"
#include "helpers/test_signer.h"

namespace mb::test {

struct ReleaseFile {
  ReleaseFile(std::string n, std::string b, std::string org = "", std::string dir = "")
      : name(std::move(n)),
        body(std::move(b)),
        org_name(std::move(org)),
        target_dir(std::move(dir)) {}
  std::string name;
  std::string body;
  std::string org_name;    // empty: the file name
  std::string target_dir;  // empty: "."
};

struct ProgramResult {
  int status = -1;     // exit status; -1 when killed at the time-out
  std::string output;  // what it wrote to stderr and stdout
};

// An updater that only records how it was started, in started.txt.
inline const std::string kRecordingUpdater =
    "#!/bin/sh\necho \"$@\" > started.txt\npwd >> started.txt\n";

class Sandbox {
 public:
  Sandbox();
  // Replaces the recording updater by the real SwiftPatcher_Mailbeacon.exe.
  void UseRealUpdater();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  std::string install;  // the install directory
  std::string update;   // install + "/update"
  std::string release;  // the server's release folder

  // Publishes a component ("express", "outlook", "agent") in a folder
  // ("ORG", "MIRROR"): its files, a files.ini and, last, release.ini.
  void Publish(const std::string& component, const std::string& version,
               const std::vector<ReleaseFile>& files, const std::string& folder = "ORG");
  void SetPause(const std::string& bytes);
  // Signs every release published from now on (and what is there now, and
  // again at each StartServer) with a key of the sandbox's own, through the
  // real `mailbeacon-server sign`.
  // MB_TEST_SIGNED_RELEASES=1 in the environment does so for every sandbox:
  // the scenario suites then run on signed releases, with agents that hold
  // no key (CTest: e2e_on_signed_releases).
  void SignReleases();
  // Runs sign now; its exit status and output.
  ProgramResult Sign(const std::vector<std::string>& extra = {});
  const TestSigningKey* SigningKey() const { return signing_key_.get(); }
  // Starts mailbeacon-server on a free loopback port (extra options appended).
  void StartServer(const std::vector<std::string>& extra = {});
  void StopServer();
  // Points the registry at another loopback server on this port (nginx
  // serving a static export), instead of the sandbox's mailbeacon-server.
  void UseServerPort(int port) { port_ = port; }
  // Names this URL (scheme, host, port) in the registry instead of the
  // sandbox's own loopback server (a TLS front: https://localhost:PORT).
  void UseServerUrl(const std::string& url) { url_ = url; }
  // One more variable in the agent's environment (CURL_CA_BUNDLE, ...).
  void SetAgentVariable(const std::string& name, const std::string& value) { env_[name] = value; }
  int ServerPort() const { return port_; }
  // The registry: server URL (with the virtual directory), English, the
  // install type, plus further raw sections.
  void WriteRegistry(const std::string& install_type = "express", const std::string& extra = "");
  // Runs the installed agent for at most max_runs runs, killed after timeout_s.
  ProgramResult RunAgent(int max_runs, int timeout_s = 60);
  // The same, killed (SIGKILL, status 137) as soon as `kill_when` holds.
  ProgramResult RunAgentUntil(int max_runs, const std::function<bool()>& kill_when,
                              int timeout_s = 60);
  // The environment the agent runs with: this sandbox's registry, a Korean
  // locale (code page 949), a bounded number of runs.
  std::map<std::string, std::string> AgentEnvironment(int max_runs) const;
  // Waits for the updater the agent started (it logs its work) to finish.
  bool WaitForUpdater(int timeout_s = 30);
  // The request targets the server saw, in order, since the last call.
  std::vector<std::string> TakeRequests();

  std::string Read(const std::string& rel) const;  // a file under the sandbox root
  bool Exists(const std::string& rel) const;
  std::string root() const { return dir_.str(); }

 private:
  TempDir dir_;
  std::string registry_;
  std::string access_log_;
  std::size_t log_offset_ = 0;
  pid_t server_pid_ = -1;
  int port_ = 0;
  std::string url_;
  std::map<std::string, std::string> env_;
  std::unique_ptr<TestSigningKey> signing_key_;
  std::string signing_key_pem_;
};

// The pid of a running process of the program at that path, or -1.
pid_t FindProcess(const std::string& program);

// Runs a program with extra environment, capturing its output, killed after
// timeout_s.
ProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd,
                         const std::map<std::string, std::string>& env, int timeout_s);

}  // namespace mb::test
