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
// The updater's: the install it is making (or a crash cut off), so that its
// next start or the agent's puts the files back whole (install/install_journal.h).
inline constexpr const char* kInstallJournal = "install_journal.txt";
// The updater's: what became of each component it was handed, for the
// agent's next run (install/install_outcome.h).
inline constexpr const char* kInstallOutcome = "install_outcome.ini";
// The lock the agent holds for its whole life and the updater while it
// works (POSIX; Windows has a named mutex).
inline constexpr const char* kInstanceLock = "instance.lock";
// What the agent reported to the vendor today, so that a report repeats at
// most once a day (agent/reports.h).
inline constexpr const char* kReportsSent = "reports.ini";

// A release file whose NAME holds this is the updater's own: the agent
// installs it itself rather than handing it to the updater.
inline constexpr const char* kUpdaterNameMark = "SwiftPatcher_Mailbeacon";
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
