// ROOT/rollout/rollout.ini (rollout_state.h): read by the rule of every
// file the server reads (never through a link), and changed only under an
// exclusive lock on its folder, by a new file renamed over it, so the
// `rollout` command and a server halting a release by itself never lose
// each other's change and a reader never sees half a file.
//
// The folder must be writable by whoever changes it: the vendor running
// `rollout`, and the server's own user for it to halt a release by itself.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "server/rollout/rollout_state.h"

namespace mb::server {

std::filesystem::path RolloutFolder(const std::filesystem::path& root);
std::filesystem::path RolloutFile(const std::filesystem::path& root);

struct RolloutRead {
  RolloutState state;
  std::vector<std::string> problems;  // entries left out, a file refused
};

// A missing file is an empty state.
RolloutRead ReadRolloutFile(const std::filesystem::path& root);

// What a cheap look (one stat) tells of the file: changes when it does.
std::string RolloutFileStamp(const std::filesystem::path& root);

// Reads the state under the lock, lets `change` change it and writes it
// back; the state written. Makes the folder when it is missing. Throws
// std::runtime_error when the file holds entries it could not read (a
// rewrite would drop them) or cannot be written.
RolloutState UpdateRolloutFile(const std::filesystem::path& root,
                               const std::function<void(RolloutState&)>& change);

}  // namespace mb::server
