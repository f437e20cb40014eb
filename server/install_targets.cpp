#include "server/install_targets.h"

#include "rules/list_rules.h"
#include "rules/safe_names.h"

namespace mb::server {
namespace {

// Only an agent knows its install and system folders: the list rules see
// these in their place.
constexpr const char* kInstallStandIn = "\\\\agent\\install";
constexpr const char* kSystemStandIn = "\\\\agent\\system32";

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A folder name Windows can create.
std::optional<std::string> PartProblem(std::string_view part) {
  if (part.empty() || part == "." || part == "..") return std::nullopt;
  if (std::optional<std::string> problem = WindowsNameProblem(part)) {
    return "the folder name \"" + std::string(part) + "\" " + *problem;
  }
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

// TARGET_DIR as an agent resolves it, with the stand-ins above.
std::string Resolved(std::string_view dir) {
  if (dir == "system32") return kSystemStandIn;
  if (!dir.empty() && dir.front() == '.') return kInstallStandIn + std::string(dir.substr(1));
  return std::string(dir);
}

std::string ClashProblem(const InstallTarget& t, const ListedFiles::Met& met) {
  std::string installed = "installed as " + t.target_dir + "\\" + t.org_name;
  switch (met.clash) {
    case Clash::kSameCopy:
      return "downloaded as the same copy as " + met.with + " (names equal but for case)";
    case Clash::kSameTarget:
      return installed + ", like " + met.with;
    case Clash::kOnBackup:
      return installed + ", the backup of " + met.with;
    case Clash::kHasBackupOn:
      return installed + ", whose backup would replace " + met.with;
  }
  return installed;
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
  ListedFiles listed;
  for (const InstallTarget& t : targets) {
    if (std::optional<std::string> problem = TargetDirProblem(t.target_dir)) {
      problems.push_back(t.name + ": TARGET_DIR \"" + t.target_dir + "\" cannot work: " + *problem);
      continue;
    }
    const ListedFile f{t.name, t.org_name, Resolved(t.target_dir)};
    const std::string update_dir = std::string(kInstallStandIn) + "\\update";
    if (std::optional<std::string> problem = ListedFileProblem(f, update_dir)) {
      problems.push_back(t.name + ": " + *problem);
    } else if (std::optional<ListedFiles::Met> met = listed.Meets(f)) {
      problems.push_back(t.name + ": " + ClashProblem(t, *met));
    } else {
      listed.Add(f, t.name);
    }
  }
  return problems;
}

}  // namespace mb::server
