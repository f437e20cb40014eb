// Process and machine facts of the POSIX build.
#pragma once

#include <string>

#include "platform/process.h"

namespace mb::posix {

class PosixProcess : public platform::Process {
 public:
  // The running program: its directory from /proc/self/exe, its arguments
  // joined as the Windows command-line text after the program name.
  PosixProcess(int argc, char** argv);
  // Explicit facts, for tests.
  PosixProcess(std::string install_dir, std::string arguments);

  std::string InstallDir() override { return install_dir_; }
  std::string Arguments() override { return arguments_; }
  // $MAILBEACON_SYSTEM_DIR, else the folder "system32" of the install
  // directory: the POSIX build has no Windows system folder of its own.
  std::string SystemDir() override;
  platform::LocalTime Now() override;
  // getrandom(2).
  std::uint32_t RandomNumber() override;
  // Starts dir/file with `params` as its one argument and `dir` as its
  // working directory, in a session of its own, stdin from /dev/null.
  void ShellOpen(const std::string& file, const std::string& params,
                 const std::string& dir) override;
  // flock on update/instance.lock (posix_instance_lock.h).
  std::unique_ptr<platform::InstanceLock> TryLockInstance(const std::string& install_dir) override;

 private:
  std::string install_dir_;
  std::string arguments_;
};

// The directory part of a path, without a trailing "/" except for "/".
std::string ParentDirectory(const std::string& path);

}  // namespace mb::posix
