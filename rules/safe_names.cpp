#include "rules/safe_names.h"

#include <algorithm>
#include <vector>

#include "rules/ascii.h"

namespace mb {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDeviceName(std::string_view name) {
  std::string base = ascii::ToLower(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();  // "nul .txt" is NUL too
  for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
    if (base == device) return true;
  }
  return base.size() == 4 && (base.rfind("com", 0) == 0 || base.rfind("lpt", 0) == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

// Where the levels of a path start, and its root in the folded spelling:
// "//" (a share), "/", "c:" or "c:/", or nothing (a relative path).
std::size_t FoldedRoot(const std::string& p, std::string& root) {
  if (p.rfind("//", 0) == 0) {
    root = "//";
    return 2;
  }
  if (!p.empty() && p[0] == '/') {
    root = "/";
    return 1;
  }
  if (p.size() >= 2 && p[1] == ':' && p[0] >= 'a' && p[0] <= 'z') {
    root = p.substr(0, 2);
    if (p.size() >= 3 && p[2] == '/') root += '/';
    return root.size();
  }
  return 0;
}

void ApplyLevel(std::string level, bool rooted, std::vector<std::string>& levels) {
  if (level.empty() || level == ".") return;
  if (level == "..") {
    if (!levels.empty() && levels.back() != "..") {
      levels.pop_back();
    } else if (!rooted) {
      levels.push_back(level);  // above a relative path's start: kept
    }
    return;
  }
  while (!level.empty() && (level.back() == '.' || level.back() == ' ')) level.pop_back();
  if (!level.empty()) levels.push_back(level);
}

}  // namespace

bool IsSafeFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;  // the folder or its parent
  return name.find_first_of(std::string("\\/:\0", 4)) == std::string::npos;
}

std::optional<std::string> WindowsNameProblem(std::string_view name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 ||
        std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos) {
      return "holds a character Windows forbids in a name";
    }
  }
  if (!name.empty() && (name.back() == ' ' || name.back() == '.')) {
    return "ends in a space or a dot, which Windows drops";
  }
  if (IsDeviceName(name)) return "is a device name on Windows";
  return std::nullopt;
}

std::optional<std::string> FileNameProblem(std::string_view name) {
  if (!IsSafeFileName(std::string(name))) return "is no file name of one level";
  if (std::optional<std::string> problem = WindowsNameProblem(name)) return problem;
  if (name.front() == '.') return "begins with a dot (a hidden file on POSIX)";
  if (name.front() == ' ') return "begins with a space";
  return std::nullopt;
}

std::string FoldedPath(std::string_view path) {
  std::string p = ascii::ToLower(path);
  for (char& c : p) {
    if (IsSeparator(c)) c = '/';
  }
  std::string root;
  std::size_t start = FoldedRoot(p, root);
  std::vector<std::string> levels;
  for (std::size_t end; start <= p.size(); start = end + 1) {
    end = std::min(p.find('/', start), p.size());
    ApplyLevel(p.substr(start, end - start), !root.empty(), levels);
  }
  std::string out = root;
  for (const std::string& level : levels) {
    if (!out.empty() && out.back() != '/') out += '/';
    out += level;
  }
  return out;
}

}  // namespace mb
