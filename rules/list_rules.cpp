#include "rules/list_rules.h"

#include "rules/agent_files.h"
#include "rules/safe_names.h"

namespace mb {
namespace {

const std::string kBackup = files::kBackupSuffix;

// `folded` lies in `folder` or below it (both folded).
bool InFolder(const std::string& folded, const std::string& folder) {
  if (folded == folder) return true;
  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  return folded.rfind(prefix, 0) == 0;
}

std::optional<std::string> Found(const std::map<std::string, std::string>& labels,
                                 const std::string& key) {
  const auto it = labels.find(key);
  if (it == labels.end()) return std::nullopt;
  return it->second;
}

}  // namespace

std::string ListedFile::Target() const {
  const bool ends_in_separator =
      !target_dir.empty() && (target_dir.back() == '\\' || target_dir.back() == '/');
  return target_dir + (ends_in_separator ? "" : "\\") + org_name;
}

std::optional<std::string> ListedFileProblem(const ListedFile& f, const std::string& update_dir) {
  if (std::optional<std::string> problem = FileNameProblem(f.name)) {
    return "NAME \"" + f.name + "\" " + *problem;
  }
  if (std::optional<std::string> problem = FileNameProblem(f.org_name)) {
    return "ORG_NAME \"" + f.org_name + "\" " + *problem;
  }
  if (files::IsAgentFileName(f.name)) {
    return "NAME \"" + f.name + "\" is the name of one of the agent's own files";
  }
  if (files::IsBackupName(f.name)) {
    return "NAME \"" + f.name + "\" is named like a backup, which the update folder keeps";
  }
  if (InFolder(FoldedPath(f.target_dir), FoldedPath(update_dir))) {
    return "TARGET_DIR is the update folder (or in it), where the copies lie";
  }
  return std::nullopt;
}

std::optional<ListedFiles::Met> ListedFiles::Meets(const ListedFile& f) const {
  const std::string target = FoldedPath(f.Target());
  if (auto with = Found(copies_, FoldedPath(f.name))) return Met{Clash::kSameCopy, *with};
  if (auto with = Found(targets_, target)) return Met{Clash::kSameTarget, *with};
  if (auto with = Found(targets_, FoldedPath(f.Target() + kBackup))) {
    return Met{Clash::kHasBackupOn, *with};
  }
  if (target.size() > kBackup.size() && target.ends_with(kBackup)) {
    if (auto with = Found(targets_, target.substr(0, target.size() - kBackup.size()))) {
      return Met{Clash::kOnBackup, *with};
    }
  }
  return std::nullopt;
}

void ListedFiles::Add(const ListedFile& f, const std::string& label) {
  copies_.emplace(FoldedPath(f.name), label);
  targets_.emplace(FoldedPath(f.Target()), label);
}

bool ListedFiles::HasCopy(const std::string& name) const {
  return copies_.count(FoldedPath(name)) > 0;
}

void ListedFiles::clear() {
  copies_.clear();
  targets_.clear();
}

const char* ClashText(Clash clash) {
  switch (clash) {
    case Clash::kSameCopy:
      return "file listed twice";
    case Clash::kSameTarget:
      return "target listed twice";
    case Clash::kOnBackup:
      return "target is another file's backup";
    case Clash::kHasBackupOn:
      return "target's backup is another file's target";
  }
  return "";
}

}  // namespace mb
