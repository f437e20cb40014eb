#include "e2e/sandbox.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace mb::test {

namespace fs = std::filesystem;

namespace {

bool WaitExit(pid_t pid, int timeout_ms, int* status) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

pid_t Spawn(const std::vector<std::string>& argv, const std::string& cwd,
            const std::map<std::string, std::string>& env, const std::string& output) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
  const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  const int in = open("/dev/null", O_RDONLY);
  dup2(in, 0);
  dup2(out, 1);
  dup2(out, 2);
  for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

}  // namespace

ProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd,
                         const std::map<std::string, std::string>& env, int timeout_s) {
  TempDir tmp;
  const std::string output = (tmp.path() / "output").string();
  const pid_t pid = Spawn(argv, cwd, env, output);
  ProgramResult result;
  int status = 0;
  if (WaitExit(pid, timeout_s * 1000, &status)) {
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  } else {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  if (fs::exists(output)) result.output = ReadFile(output);
  return result;
}

Sandbox::Sandbox() {
  install = (dir_.path() / "inst").string();
  update = install + "/update";
  release = (dir_.path() / "release").string();
  registry_ = (dir_.path() / "registry.reg").string();
  access_log_ = (dir_.path() / "access.log").string();
  fs::create_directories(install);
  fs::create_directories(release);
  fs::copy_file(fs::path(MB_BIN_DIR) / "Mailbeacon", fs::path(install) / "Mailbeacon");
  // Until a test asks for the real one, the updater only records its start.
  const fs::path updater = fs::path(install) / "SwiftPatcher_Mailbeacon.exe";
  WriteFile(updater, kRecordingUpdater);
  fs::permissions(updater, fs::perms::owner_all, fs::perm_options::add);
  if (const char* on = std::getenv("MB_TEST_SIGNED_RELEASES"); on && std::string(on) == "1")
    SignReleases();
}

void Sandbox::SignReleases() {
  if (signing_key_) return;
  signing_key_ = std::make_unique<TestSigningKey>();
  signing_key_pem_ = (dir_.path() / "signing-key.pem").string();
  signing_key_->WritePrivatePem(signing_key_pem_);
  Sign();
}

ProgramResult Sandbox::Sign(const std::vector<std::string>& extra) {
  std::vector<std::string> argv = {std::string(MB_BIN_DIR) + "/mailbeacon-server",
                                   "sign",
                                   "--root",
                                   release,
                                   "--key",
                                   signing_key_pem_};
  argv.insert(argv.end(), extra.begin(), extra.end());
  return RunProgram(argv, "", {}, 60);
}

void Sandbox::UseRealUpdater() {
  fs::copy_file(fs::path(MB_BIN_DIR) / "SwiftPatcher_Mailbeacon.exe",
                fs::path(install) / "SwiftPatcher_Mailbeacon.exe",
                fs::copy_options::overwrite_existing);
}

Sandbox::~Sandbox() { StopServer(); }

void Sandbox::Publish(const std::string& component, const std::string& version,
                      const std::vector<ReleaseFile>& files, const std::string& folder) {
  const fs::path dir = fs::path(release) / folder / component;
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::string meta;
  int order = 0;
  for (const auto& f : files) {
    WriteFile(dir / f.name, f.body);
    meta += "[" + f.name + "]\nORDER=" + std::to_string(++order) + "\n";
    if (!f.org_name.empty()) meta += "ORG_NAME=" + f.org_name + "\n";
    if (!f.target_dir.empty()) meta += "TARGET_DIR=" + f.target_dir + "\n";
  }
  WriteFile(dir / "files.ini", meta);
  WriteFile(dir / "release.ini", "[RELEASE]\nLAST_VERSION=" + version + "\n");
  if (signing_key_) {
    // Signed, or left out because the server would not publish it either.
    const std::string where = folder + "/" + component;
    const ProgramResult r = Sign();
    if (r.output.find("signed " + where + " ") == std::string::npos &&
        r.output.find("not signed: " + where + " ") == std::string::npos)
      throw std::runtime_error("sign did not sign " + where + ": " + r.output);
  }
}

void Sandbox::SetPause(const std::string& bytes) {
  WriteFile(fs::path(release) / "pause.txt", bytes);
}

void Sandbox::StartServer(const std::vector<std::string>& extra) {
  StopServer();
  // What a test wrote into the release itself is signed too, as a vendor
  // signs every change before it is served.
  if (signing_key_) Sign();
  const std::string port_file = (dir_.path() / "port").string();
  fs::remove(port_file);
  std::vector<std::string> argv = {std::string(MB_BIN_DIR) + "/mailbeacon-server",
                                   "--root",
                                   release,
                                   "--port",
                                   "0",
                                   "--vdir",
                                   "/mbh",
                                   "--port-file",
                                   port_file,
                                   "--log",
                                   (dir_.path() / "server.log").string(),
                                   "--access-log",
                                   access_log_};
  argv.insert(argv.end(), extra.begin(), extra.end());
  server_pid_ = Spawn(argv, "", {}, (dir_.path() / "server.out").string());
  // Up to 30 s: a sanitizer build on a loaded machine starts slowly. A
  // server that ended says so at once.
  for (int i = 0; i < 3000; ++i) {
    if (fs::exists(port_file) && fs::file_size(port_file) > 0) break;
    int status = 0;
    if (waitpid(server_pid_, &status, WNOHANG) == server_pid_) {
      server_pid_ = 0;
      throw std::runtime_error("mailbeacon-server ended at its start (status " +
                               std::to_string(status) + ")");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!fs::exists(port_file)) throw std::runtime_error("mailbeacon-server did not start in 30 s");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  port_ = std::stoi(ReadFile(port_file));
}

void Sandbox::StopServer() {
  if (server_pid_ <= 0) return;
  kill(server_pid_, SIGTERM);
  int status = 0;
  if (!WaitExit(server_pid_, 5000, &status)) {
    kill(server_pid_, SIGKILL);
    waitpid(server_pid_, &status, 0);
  }
  server_pid_ = -1;
}

void Sandbox::WriteRegistry(const std::string& install_type, const std::string& extra) {
  WriteFile(registry_,
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\BrightHarbor\\MailbeaconCom]\n"
            "\"URL\"=\"" +
                (url_.empty() ? "http://127.0.0.1:" + std::to_string(port_) : url_) +
                "\"\n"
                "\"V_DIR\"=\"/mbh\"\n\"Language\"=\"ENGLISH\"\n"
                "\"InstallType\"=\"" +
                install_type + "\"\n\n" + extra);
}

std::map<std::string, std::string> Sandbox::AgentEnvironment(int max_runs) const {
  std::map<std::string, std::string> env = {{"MAILBEACON_REGISTRY", registry_},
                                            {"MAILBEACON_MAX_RUNS", std::to_string(max_runs)},
                                            {"LC_ALL", "ko_KR.UTF-8"}};
  env.insert(env_.begin(), env_.end());
  return env;
}

ProgramResult Sandbox::RunAgent(int max_runs, int timeout_s) {
  return RunProgram({install + "/Mailbeacon"}, install, AgentEnvironment(max_runs), timeout_s);
}

ProgramResult Sandbox::RunAgentUntil(int max_runs, const std::function<bool()>& kill_when,
                                     int timeout_s) {
  TempDir tmp;
  const std::string output = (tmp.path() / "output").string();
  const pid_t pid = Spawn({install + "/Mailbeacon"}, install, AgentEnvironment(max_runs), output);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) != pid) {
    if (kill_when() || std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ProgramResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (fs::exists(output)) result.output = ReadFile(output);
  return result;
}

pid_t FindProcess(const std::string& program) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code link_ec;
    if (fs::read_symlink(entry.path() / "exe", link_ec) == program) {
      return static_cast<pid_t>(std::stol(pid));
    }
  }
  return -1;
}

// Done when the pending-install list is gone and no updater of this
// install directory runs any more (it removes its copies after the list).
bool Sandbox::WaitForUpdater(int timeout_s) {
  const fs::path list = fs::path(update) / "mailbeacon_download.ini";
  const std::string updater = install + "/SwiftPatcher_Mailbeacon.exe";
  for (int i = 0; i < timeout_s * 50; ++i) {
    if (!fs::exists(list) && FindProcess(updater) < 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::vector<std::string> Sandbox::TakeRequests() {
  std::vector<std::string> targets;
  if (!fs::exists(access_log_)) return targets;
  const std::string log = ReadFile(access_log_);
  std::size_t pos = log_offset_;
  for (std::size_t end; (end = log.find('\n', pos)) != std::string::npos; pos = end + 1) {
    const std::string line = log.substr(pos, end - pos);
    const std::size_t get = line.find(" GET ");
    if (get == std::string::npos) continue;
    const std::size_t from = get + 5;
    targets.push_back(line.substr(from, line.find(' ', from) - from));
  }
  log_offset_ = pos;
  return targets;
}

std::string Sandbox::Read(const std::string& rel) const { return ReadFile(dir_.path() / rel); }
bool Sandbox::Exists(const std::string& rel) const { return fs::exists(dir_.path() / rel); }

}  // namespace mb::test
