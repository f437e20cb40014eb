// A manifest names files that the agent writes into its update directory
// and that the updater writes into target directories. A name that could
// reach outside those folders is refused.
#pragma once

#include <string>

namespace mb {

// False for an empty name, ".", an absolute one, or one holding a path
// separator ("\" or "/"), a drive or stream colon, a NUL, or "..".
bool IsSafeFileName(const std::string& name);

}  // namespace mb
