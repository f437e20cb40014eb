#include "platform/posix/posix_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/posix/posix_instance_lock.h"
#include "platform/posix/posix_path.h"

namespace mb::posix {
namespace {

std::string ExecutablePath(const char* argv0) {
  std::vector<char> buf(4096);
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
  if (n > 0 && static_cast<std::size_t>(n) < buf.size()) {
    return std::string(buf.data(), static_cast<std::size_t>(n));
  }
  // No /proc (a minimal container): the path the program was started by.
  char* real = argv0 != nullptr ? ::realpath(argv0, nullptr) : nullptr;
  std::string path = real != nullptr ? real : "./program";
  std::free(real);
  return path;
}

std::string JoinArguments(int argc, char** argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

// posix_spawn's file actions and attributes, released on every path.
struct SpawnSetup {
  posix_spawn_file_actions_t actions{};
  posix_spawnattr_t attr{};
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool Prepare(const std::string& dir) {
    return posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
           posix_spawn_file_actions_addchdir_np(&actions, dir.c_str()) == 0 &&
           // None of the agent's other files (registry lock, sockets) go along.
           posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0 &&
           // Its own session, as a program that ShellExecute starts is not
           // tied to the starter's console: a closing terminal does not stop
           // an update half-way.
           posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID) == 0;
  }
};

}  // namespace

std::string ParentDirectory(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

PosixProcess::PosixProcess(int argc, char** argv)
    : install_dir_(ParentDirectory(ExecutablePath(argc > 0 ? argv[0] : nullptr))),
      arguments_(JoinArguments(argc, argv)) {}

PosixProcess::PosixProcess(std::string install_dir, std::string arguments)
    : install_dir_(std::move(install_dir)), arguments_(std::move(arguments)) {}

std::string PosixProcess::SystemDir() {
  const char* dir = std::getenv("MAILBEACON_SYSTEM_DIR");
  if (dir != nullptr && *dir != '\0') return dir;
  // Written the way the agent builds its own paths, so that the agent's
  // level-by-level directory creation (which splits at "\") makes it.
  return install_dir_ + "\\system32";
}

platform::LocalTime PosixProcess::Now() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::uint32_t PosixProcess::RandomNumber() {
  std::uint32_t value = 0;
  for (;;) {
    const ssize_t n = ::getrandom(&value, sizeof value, 0);
    if (n == static_cast<ssize_t>(sizeof value)) return value;
    if (n < 0 && errno != EINTR) break;
  }
  // No random source at all (a kernel before 3.17): the clock and the
  // process id still differ from machine to machine.
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return static_cast<std::uint32_t>(now) ^ (static_cast<std::uint32_t>(::getpid()) * 2654435761u);
}

// The start is not waited for and its failure not reported (the agent
// ignores ShellExecute's result). A detached thread reaps the child, so a
// process that keeps running afterwards (a test) collects no zombie.
void PosixProcess::ShellOpen(const std::string& file, const std::string& params,
                             const std::string& dir) {
  std::string posix_dir = dir.empty() ? "." : ToPosixPath(dir);
  std::string program = posix_dir + "/" + ToPosixPath(file);
  std::vector<char*> argv{const_cast<char*>(file.c_str())};
  if (!params.empty()) argv.push_back(const_cast<char*>(params.c_str()));
  argv.push_back(nullptr);

  SpawnSetup setup;
  if (!setup.Prepare(posix_dir)) return;
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attr, argv.data(), environ) != 0) {
    return;
  }
  try {
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the child stays a zombie until this process ends.
  }
}

std::unique_ptr<platform::InstanceLock> PosixProcess::TryLockInstance(
    const std::string& install_dir) {
  return TryLockInstanceDir(install_dir);
}

}  // namespace mb::posix
