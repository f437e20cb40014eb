// The lock of an install directory's programs on POSIX: flock on
// update/instance.lock. The kernel drops it when the process ends, however
// it ends, so a crash never leaves the install locked; the descriptor is
// not inherited, so the updater the agent starts does not hold it.
#pragma once

#include <memory>
#include <string>

#include "platform/process.h"

namespace mb::posix {

// nullptr when another process holds the lock (see Process::TryLockInstance).
std::unique_ptr<platform::InstanceLock> TryLockInstanceDir(const std::string& install_dir);

}  // namespace mb::posix
