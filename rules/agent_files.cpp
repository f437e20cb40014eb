#include "rules/agent_files.h"

#include <string_view>

#include "rules/ascii.h"

namespace mb::files {

bool IsAgentFileName(const std::string& name) {
  for (const char* own : {kInstallRecord, kPendingList, kUpdateLog, kPauseState, kNotice,
                          kOutlookManifest, kExpressManifest, kAgentManifest, kAcceptedSignatures,
                          kInstallJournal, kInstallOutcome, kInstanceLock, kReportsSent, kTrustedRoot,
                          kNextRoot}) {
    if (ascii::EqualFolded(name, own)) return true;
  }
  return false;
}

bool IsBackupName(const std::string& name) {
  const std::string suffix = kBackupSuffix;
  return name.size() > suffix.size() &&
         ascii::EqualFolded(std::string_view(name).substr(name.size() - suffix.size()), suffix);
}

}  // namespace mb::files
