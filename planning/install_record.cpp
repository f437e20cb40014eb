// Recording a completed pass: the pending-install list for the external
// updater, the component's release in the install record (only when a file
// was left for the updater), and a log line per file. The list and the
// record are on disk before the first log line, so the log never claims a
// file that no list holds.
#include "agent/frm_tray.h"
#include "planning/ini_formats.h"

namespace mb {

void frmTray::RecordInstalledFiles(std::int16_t kind, const DownloadList& list,
                                   const std::string& lastVersion) {
  try {
    const auto names = ini::NamesFor(kind);
    if (!names) return;
    Int16 pending;
    for (const FileRecord& r : list) {
      if (!r.OrgName.empty()) ++pending;
    }
    WritePendingList(*names, list, pending);
    if (pending == 0) return;
    PutVal(names->ComponentSection, ini::kLastVersionKey, lastVersion, state_.InstallIniPath);
    for (const FileRecord& r : list) {
      WriteUpdateLog("다운로드성공 : " + r.TargetDir + "\\" + r.OrgName);
    }
  } catch (const std::exception&) {
    // Writes already made stay; the rest of the record is not written.
  }
}

// TOTAL_FILES and one section per file left for the updater, in one batch:
// a list of thousands of files goes to disk in one write, whole or not at
// all, before this returns.
void frmTray::WritePendingList(const ini::ComponentNames& names, const DownloadList& list,
                               std::int16_t pending) {
  platform::ProfileBatch batch(*p_.profiles);
  const std::string& list_file = state_.DownloadIniPath;
  PutVal(names.ComponentSection, ini::kTotalFilesKey, std::to_string(pending), list_file);
  Int16 k;
  for (const FileRecord& r : list) {
    if (r.OrgName.empty()) continue;
    ++k;
    const std::string section = names.PendingSectionPrefix + std::to_string(k);
    PutVal(section, ini::kNameKey, r.Name, list_file);
    PutVal(section, ini::kVersionKey, r.Version, list_file);
    PutVal(section, ini::kOrgNameKey, r.OrgName, list_file);
    PutVal(section, ini::kTargetDirKey, ListedTargetDir(r.TargetDir).value_or(r.TargetDir),
           list_file);
    PutVal(section, ini::kSelfRegisterKey, r.SelfRegister, list_file);
    PutVal(section, ini::kBackUpKey, r.BackUp, list_file);
  }
}

}  // namespace mb
