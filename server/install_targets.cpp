#include "server/install_targets.h"

#include <map>

namespace mb::server {
namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string Folded(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool IsReservedDeviceName(std::string_view part) {
  std::string base = Folded(part.substr(0, part.find('.')));
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

// A folder name Windows can create: no forbidden character, not a device,
// not ending in a space or a dot (Windows would drop them).
std::optional<std::string> PartProblem(std::string_view part) {
  if (part.empty() || part == "." || part == "..") return std::nullopt;
  for (char c : part) {
    if (static_cast<unsigned char>(c) < 0x20 ||
        std::string_view("<>:\"/|?*").find(c) != std::string_view::npos)
      return "the folder name \"" + std::string(part) + "\" holds a character Windows forbids";
  }
  if (part.back() == ' ' || part.back() == '.')
    return "the folder name \"" + std::string(part) + "\" ends in a space or a dot";
  if (IsReservedDeviceName(part))
    return "\"" + std::string(part) + "\" is a device name on Windows";
  return std::nullopt;
}

std::optional<std::string> PartsProblem(std::string_view path) {
  while (!path.empty()) {
    std::size_t end = path.find('\\');
    if (std::optional<std::string> problem = PartProblem(path.substr(0, end))) return problem;
    path.remove_prefix(end == std::string_view::npos ? path.size() : end + 1);
  }
  return std::nullopt;
}

// The folder a value names, in one spelling: case folded, no trailing "\",
// "." and ".\" alike.
std::string FolderKey(std::string_view dir) {
  while (dir.size() > 1 && dir.back() == '\\') dir.remove_suffix(1);
  if (dir == ".") return ".\\";
  return Folded(dir);
}

}  // namespace

std::optional<std::string> TargetDirProblem(std::string_view dir) {
  if (dir == "system32") return std::nullopt;
  if (!dir.empty() && dir.front() == '.') return PartsProblem(dir.substr(1));
  if (dir.size() >= 3 && IsLetter(dir[0]) && dir[1] == ':' && dir[2] == '\\')
    return PartsProblem(dir.substr(3));
  if (dir.rfind("\\\\", 0) == 0) {
    std::string_view rest = dir.substr(2);
    std::size_t slash = rest.find('\\');
    if (slash == 0 || slash == std::string_view::npos || slash + 1 >= rest.size() ||
        rest[slash + 1] == '\\')
      return "a network path needs \\\\server\\share";
    return PartsProblem(rest);
  }
  if (!dir.empty() && dir.front() == '\\') return PartsProblem(dir.substr(1));
  return "a relative folder: the updater accepts only \".\", \".\\sub\", \"system32\" or an "
         "absolute path";
}

std::vector<std::string> InstallTargetProblems(const std::vector<InstallTarget>& targets) {
  std::vector<std::string> problems;
  std::map<std::string, std::string> first_by_target;
  for (const InstallTarget& t : targets) {
    if (std::optional<std::string> problem = TargetDirProblem(t.target_dir)) {
      problems.push_back(t.name + ": TARGET_DIR \"" + t.target_dir + "\" cannot work: " + *problem);
      continue;
    }
    std::string key = FolderKey(t.target_dir) + "\\" + Folded(t.org_name);
    auto [it, fresh] = first_by_target.emplace(key, t.name);
    if (!fresh)
      problems.push_back(t.name + ": installed as " + t.target_dir + "\\" + t.org_name + ", like " +
                         it->second);
  }
  return problems;
}

}  // namespace mb::server
