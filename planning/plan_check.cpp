// Checks of a planned pass before anything is fetched: what the pass would
// hand over must be a list the updater can apply, spelled in the code page
// without loss, and must not name a file that an earlier pass of the run
// already left for the updater.
#include "agent/frm_tray.h"
#include "planning/safe_names.h"

namespace mb {

namespace {

std::string TargetOf(const FileRecord& r) { return r.TargetDir + "\\" + r.OrgName; }

}  // namespace

frmTray::PlanVerdict frmTray::CheckPlan(const DownloadList& list) {
  std::set<std::string> names;
  std::set<std::string> targets;
  bool collides = false;
  for (const FileRecord& r : list) {
    if (!IsSafeFileName(r.Name) || !IsSafeFileName(r.OrgName)) return PlanVerdict::kRefused;
    if (!FitsCodePage(r.Name) || !FitsCodePage(r.OrgName) || !ListedTargetDir(r.TargetDir)) {
      return PlanVerdict::kRefused;
    }
    const std::string name = FoldedPath(r.Name);
    const std::string target = FoldedPath(TargetOf(r));
    // Two downloads to one copy, or two copies to one target.
    if (!names.insert(name).second || !targets.insert(target).second) {
      return PlanVerdict::kRefused;
    }
    collides = collides || listed_names_.count(name) > 0 || listed_targets_.count(target) > 0;
  }
  return collides ? PlanVerdict::kCollides : PlanVerdict::kSound;
}

void frmTray::RememberListed(const DownloadList& list) {
  for (const FileRecord& r : list) {
    if (r.OrgName.empty()) continue;  // installed by the agent itself
    listed_names_.insert(FoldedPath(r.Name));
    listed_targets_.insert(FoldedPath(TargetOf(r)));
  }
}

// The pending-install list and the install record are ANSI text: a value
// the code page cannot hold would come back with "?" in place of what it
// lacks.
bool frmTray::FitsCodePage(const std::string& text) {
  return p_.codepage->FromAnsi(p_.codepage->ToAnsi(text)) == text;
}

// The TARGET_DIR the pending-install list holds for a resolved folder: the
// folder itself, or, when the code page cannot hold the install directory's
// path, a folder inside it as ".\rest" (the updater resolves it against its
// own folder, and is started in the install directory in any case).
// Nothing when neither form fits: such a pass is refused.
std::optional<std::string> frmTray::ListedTargetDir(const std::string& dir) {
  if (FitsCodePage(dir)) return dir;
  const std::string install = InstallDir();
  if (dir == install) return std::string(".");
  if (dir.rfind(install + "\\", 0) != 0) return std::nullopt;
  std::string relative = ".";
  relative += dir.substr(install.size());
  if (!FitsCodePage(relative)) return std::nullopt;
  return relative;
}

}  // namespace mb
