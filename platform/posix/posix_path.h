// The agent builds Windows-style paths ("\" separators); the POSIX layers
// map them to POSIX paths at the boundary, as Wine maps "\" to "/".
#pragma once

#include <string>

namespace mb::posix {

inline std::string ToPosixPath(const std::string& agent_path) {
  std::string out = agent_path;
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

}  // namespace mb::posix
