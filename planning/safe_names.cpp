#include "planning/safe_names.h"

#include "support/text.h"

namespace mb {

bool IsSafeFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;  // the folder or its parent
  return name.find_first_of(std::string("\\/:\0", 4)) == std::string::npos;
}

std::string FoldedPath(const std::string& path) {
  std::string out;
  for (char c : text::ToLowerAscii(path)) {
    if (c == '\\') c = '/';
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  return out;
}

}  // namespace mb
