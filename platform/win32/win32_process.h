// Process and machine facts on Windows, and ShellExecute for the hand-off.
#pragma once

#include <functional>

#include "platform/process.h"

namespace mb::win32 {

class Win32Process : public platform::Process {
 public:
  // `owner` gives the window that owns what ShellOpen starts (the agent's
  // main window); it may return null.
  explicit Win32Process(std::function<void*()> owner = {}) : owner_(std::move(owner)) {}

  std::string InstallDir() override;
  std::string Arguments() override;
  std::string SystemDir() override;
  platform::LocalTime Now() override;
  // RtlGenRandom, the source rand_s draws from.
  std::uint32_t RandomNumber() override;
  void ShellOpen(const std::string& file, const std::string& params,
                 const std::string& dir) override;
  // A named mutex of this session, named after the install directory.
  std::unique_ptr<platform::InstanceLock> TryLockInstance(const std::string& install_dir) override;

 private:
  std::function<void*()> owner_;
};

// The argument text after the program name of a Windows command line, as
// the C runtime splits it: a quoted name ends at its closing quote, an
// unquoted one at the first space or tab; the blanks after it are skipped.
std::wstring ArgumentsAfterProgram(const std::wstring& command_line);

// The name of the install directory's mutex: "Local\\Mailbeacon-" and a
// digest of the path with its letters folded, as Windows folds them.
std::wstring InstanceMutexName(const std::wstring& install_dir);

// The directory part of a module path, keeping the separator of a drive
// root ("C:\").
std::wstring DirectoryOf(const std::wstring& file_path);

}  // namespace mb::win32
