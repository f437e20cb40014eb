// Checks of a planned pass before anything is fetched: what the pass would
// hand over must be a list the updater can apply, spelled in the code page
// without loss, and must not name a file that an earlier pass of the run
// already left for the updater.
#include "agent/frm_tray.h"

namespace mb {

namespace {

ListedFile Listed(const FileRecord& r) { return {r.Name, r.OrgName, r.TargetDir}; }

}  // namespace

// The updater's own file is checked with the rest: the agent installs it
// itself, but by the same rules (its backup, its target).
frmTray::PlanVerdict frmTray::CheckPlan(const DownloadList& list) {
  ListedFiles pass;
  bool collides = false;
  for (const FileRecord& r : list) {
    const ListedFile f = Listed(r);
    if (ListedFileProblem(f, state_.UpdateDir)) return PlanVerdict::kRefused;
    if (!FitsCodePage(r.Name) || !FitsCodePage(r.OrgName) || !ListedTargetDir(r.TargetDir)) {
      return PlanVerdict::kRefused;
    }
    if (pass.Meets(f)) return PlanVerdict::kRefused;
    pass.Add(f, r.Name);
    collides = collides || listed_.Meets(f).has_value();
  }
  return collides ? PlanVerdict::kCollides : PlanVerdict::kSound;
}

void frmTray::RememberListed(const DownloadList& list) {
  for (const FileRecord& r : list) {
    if (r.OrgName.empty()) continue;  // installed by the agent itself
    listed_.Add(Listed(r), r.Name);
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
