// Process and machine facts: where the agent lives, the system directory,
// the local clock, and starting another program.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace mb::platform {

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Held while a program of an install directory (the agent, the updater)
// works on it; released when destroyed, or when the process ends however it
// ends.
class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
};

class Process {
 public:
  virtual ~Process() = default;
  // The directory of the running executable, without a trailing separator
  // (except at a drive root).
  virtual std::string InstallDir() = 0;
  // The command-line argument text after the program name.
  virtual std::string Arguments() = 0;
  // GetSystemDirectoryA; empty when the call fails.
  virtual std::string SystemDir() = 0;
  virtual LocalTime Now() = 0;
  // A number from the system's random source: independent across processes
  // and machines started at the same moment (never seeded by the clock).
  virtual std::uint32_t RandomNumber() = 0;
  // Seconds since 1970-01-01T00:00:00Z (the expiry of signed releases).
  virtual std::int64_t UtcNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
  // ShellExecute "open" of `file` (a bare name, found in `dir`) with the
  // parameter string and working directory `dir`; not waited for. The
  // result is not reported, as the agent ignores it.
  virtual void ShellOpen(const std::string& file, const std::string& params,
                         const std::string& dir) = 0;
  // Takes the lock of the programs of `install_dir` for this user, at once
  // or not at all (Windows: a named mutex; POSIX: flock on
  // update/instance.lock, making the update folder when it is missing).
  // nullptr when another process holds it. Where no lock can be made at all
  // (a folder that cannot be written), a lock that guards nothing: the
  // program then fails where it needs the folder, as it would have.
  virtual std::unique_ptr<InstanceLock> TryLockInstance(const std::string& install_dir) = 0;
};

}  // namespace mb::platform
