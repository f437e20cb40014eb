// Where a component's files will be installed, checked before the
// component is published: an agent resolves TARGET_DIR against its install
// directory only for ".", ".\sub" and ".x", takes "system32" as the system
// directory and every other value as written, and the updater installs
// TARGET_DIR\ORG_NAME. A folder that is neither of those forms nor
// absolute, or that Windows cannot name, can never be created; two files
// installed as the same name, or one as another's backup, would overwrite
// each other; a name the agents' list rules refuse (rules/list_rules.h: one
// Windows cannot make, one beginning with a dot, one of the agent's own
// files, a target in its update folder) fails their pass. Agents would
// fetch such a release on every start, so it is not published.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mb::server {

// Why TARGET_DIR cannot work on Windows; nothing when it can.
std::optional<std::string> TargetDirProblem(std::string_view target_dir);

struct InstallTarget {
  std::string name;  // the file's NAME, for the message
  std::string target_dir;
  std::string org_name;
};

// One line per problem: bad folders, names the list rules refuse, and
// files that meet (compared as Windows compares paths).
std::vector<std::string> InstallTargetProblems(const std::vector<InstallTarget>& targets);

}  // namespace mb::server
