#include "planning/safe_names.h"

namespace mb {

bool IsSafeFileName(const std::string& name) {
  if (name.empty() || name == ".") return false;  // "." names the folder itself
  if (name.find_first_of(std::string("\\/:\0", 4)) != std::string::npos) return false;
  return name.find("..") == std::string::npos;
}

}  // namespace mb
