// Names of the agent's INI files, their sections and keys, and the
// per-component table, defined once.
#pragma once

#include <cstdint>
#include <optional>

#include "agent/agent_state.h"
#include "rules/agent_files.h"

namespace mb::ini {

struct ComponentNames {
  const char* ManifestFile;          // the server manifest, in UpdateDir
  const char* ComponentSection;      // in the install record and pending list
  const char* PendingSectionPrefix;  // numbered pending-file sections
};

// The row of a component kind; nullopt for a kind other than 0, 1, 2.
std::optional<ComponentNames> NamesFor(std::int16_t kind);
// The kind whose ComponentSection is `section` (exactly); nullopt for none.
std::optional<std::int16_t> KindOfSection(const std::string& section);

inline constexpr const char* kPendingListFile = files::kPendingList;
inline constexpr const char* kInstallRecordFile = files::kInstallRecord;
inline constexpr const char* kPauseFile = files::kPauseState;
inline constexpr const char* kNoticeFile = files::kNotice;
inline constexpr const char* kUpdateLogFile = files::kUpdateLog;
inline constexpr const char* kUpdaterFile = "SwiftPatcher_Mailbeacon.exe";
inline constexpr const char* kUpdaterNameMark = files::kUpdaterNameMark;
inline constexpr const char* kMainWindowCaption = "Mailbeacon_Shell";

// Manifest.
inline constexpr const char* kDownloadSection = "DOWNLOAD";
inline constexpr const char* kTotalFilesKey = "TOTAL_FILES";
inline constexpr const char* kLastVersionKey = "LAST_VERSION";
inline constexpr const char* kRolloutKey = "ROLLOUT";  // staged rollout, 0 to 100
inline constexpr const char* kFileSectionPrefix = "FILE_";
inline constexpr const char* kNameKey = "NAME";
inline constexpr const char* kVersionKey = "VERSION";
inline constexpr const char* kOrgNameKey = "ORG_NAME";
inline constexpr const char* kTargetDirKey = "TARGET_DIR";
inline constexpr const char* kSelfRegisterKey = "SELF_REGISTER";
inline constexpr const char* kHashKey = "HASH";
inline constexpr const char* kSha256Key = "SHA256";  // signed releases only
inline constexpr const char* kLengthKey = "LENGTH";  // signed releases only: the file's bytes
// Install record.
inline constexpr const char* kInstallVersionKey = "INSTALL_VERSION";
inline constexpr const char* kUpdateKey = "UPDATE";
// Pending-install list.
inline constexpr const char* kBackUpKey = "BACK_UP";

}  // namespace mb::ini
