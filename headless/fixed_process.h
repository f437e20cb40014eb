// A process whose facts are fixed: an install directory given by the tool,
// its "system32" below it, no arguments, one local time, one "random"
// number (0), a hand-off to the updater that starts nothing and an
// install lock that is always free. For benchmarks and fuzz targets.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/process.h"

namespace mb::headless {

class FixedProcess : public platform::Process {
 public:
  explicit FixedProcess(std::string install_dir = "") : install(std::move(install_dir)) {}

  std::string install;

  std::string InstallDir() override { return install; }
  std::string Arguments() override { return ""; }
  std::string SystemDir() override { return install + "\\system32"; }
  platform::LocalTime Now() override { return {2006, 6, 1, 14, 5, 9}; }
  std::uint32_t RandomNumber() override { return 0; }
  void ShellOpen(const std::string&, const std::string&, const std::string&) override {}
  // One process of a tool: nobody to share the install with.
  std::unique_ptr<platform::InstanceLock> TryLockInstance(const std::string&) override {
    return std::make_unique<platform::InstanceLock>();
  }
};

}  // namespace mb::headless
