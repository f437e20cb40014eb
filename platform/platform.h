// The seam between the portable agent and its operating system. The core
// reaches the OS only through these interfaces; platform/posix and
// platform/win32 implement them, chosen by the build. Tests hand the core a
// Platform whose members are real backends on temporary folders and a
// loopback server, replacing only what a test cannot do for real.
#pragma once

#include "platform/codepage.h"
#include "platform/filesystem.h"
#include "platform/network.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/signature.h"
#include "platform/window_system.h"

namespace mb::platform {

struct Platform {
  Registry* registry = nullptr;
  ProfileStore* profiles = nullptr;
  FileSystem* fs = nullptr;
  Network* net = nullptr;
  CodePage* codepage = nullptr;
  WindowSystem* windows = nullptr;
  Process* process = nullptr;
  // Signed releases only: an agent without trusted keys never uses it, so
  // tools and tests that need no signatures leave it out.
  Crypto* crypto = nullptr;
};

}  // namespace mb::platform
