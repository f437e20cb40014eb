// Recording a completed pass: the pending-install list for the external
// updater, a log line per file, and the component's release in the install
// record (only when a file was left for the updater).
#include "agent/frm_tray.h"
#include "planning/ini_formats.h"

namespace mb {

void frmTray::RecordInstalledFiles(std::int16_t kind, const DownloadList& list,
                                   const std::string& lastVersion) {
  try {
    // One batch: a list of thousands of files is written to disk once.
    platform::ProfileBatch batch(*p_.profiles);
    Int16 pending;
    for (const FileRecord& r : list) {
      if (!r.OrgName.empty()) ++pending;
    }
    const auto names = ini::NamesFor(kind);
    if (!names) return;
    const std::string& list_file = state_.DownloadIniPath;
    PutVal(names->ComponentSection, ini::kTotalFilesKey, std::to_string(pending), list_file);
    if (pending == 0) return;
    Int16 k;
    for (const FileRecord& r : list) {
      if (!r.OrgName.empty()) {
        ++k;
        const std::string section = names->PendingSectionPrefix + std::to_string(k);
        PutVal(section, ini::kNameKey, r.Name, list_file);
        PutVal(section, ini::kVersionKey, r.Version, list_file);
        PutVal(section, ini::kOrgNameKey, r.OrgName, list_file);
        PutVal(section, ini::kTargetDirKey, r.TargetDir, list_file);
        PutVal(section, ini::kSelfRegisterKey, r.SelfRegister, list_file);
        PutVal(section, ini::kBackUpKey, r.BackUp, list_file);
      }
      WriteUpdateLog("다운로드성공 : " + r.TargetDir + "\\" + r.OrgName);
    }
    PutVal(names->ComponentSection, ini::kLastVersionKey, lastVersion, state_.InstallIniPath);
  } catch (const std::exception&) {
    // Writes already made stay; the rest of the record is not written.
  }
}

}  // namespace mb
