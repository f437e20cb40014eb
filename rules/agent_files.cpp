#include "rules/agent_files.h"

#include "rules/ascii.h"

namespace mb::files {

bool IsAgentFileName(const std::string& name) {
  for (const char* own : {kInstallRecord, kPendingList, kUpdateLog, kPauseState, kNotice,
                          kOutlookManifest, kExpressManifest, kAgentManifest}) {
    if (ascii::EqualFolded(name, own)) return true;
  }
  return false;
}

}  // namespace mb::files
