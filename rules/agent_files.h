// The files the agent keeps in its update folder, named once for the
// agent, the updater and the server: no file of a release may take one of
// these names, and the update folder's clean-up keeps them.
#pragma once

#include <string>

namespace mb::files {

inline constexpr const char* kInstallRecord = "install_version.ini";
inline constexpr const char* kPendingList = "mailbeacon_download.ini";
inline constexpr const char* kUpdateLog = "update_log.txt";
inline constexpr const char* kPauseState = "pause.txt";
inline constexpr const char* kNotice = "Mailbeacon_Update_Notice.txt";
inline constexpr const char* kOutlookManifest = "outlook_addin.ini";
inline constexpr const char* kExpressManifest = "express_plugin.ini";
inline constexpr const char* kAgentManifest = "mailbeacon_agent.ini";
// Signed releases: the signing time of the newest manifest accepted, per
// component (section) - what an older release is refused by.
inline constexpr const char* kAcceptedSignatures = "accepted_signatures.ini";
// A root of trust: the newest one verified, and the next one while it is
// checked.
inline constexpr const char* kTrustedRoot = "trusted_root.ini";
inline constexpr const char* kNextRoot = "next_root.ini";

// Appended to a replaced file's path for the copy kept of it.
inline constexpr const char* kBackupSuffix = "_old";

// One of the names above, letters folded (Windows would take "Pause.TXT"
// for the same file).
bool IsAgentFileName(const std::string& name);

// A name that ends in the backup suffix, letters folded.
bool IsBackupName(const std::string& name);

}  // namespace mb::files
