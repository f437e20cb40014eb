// The update log: one append-only ANSI text file, a line per call, each
// starting with the bracketed local time. A failure is raised to the caller.
#include "agent/frm_tray.h"
#include "support/local_time.h"

namespace mb {

void frmTray::WriteUpdateLog(const std::string& text) {
  const std::string path = InstallDir() + "\\update\\update_log.txt";
  const std::string line = "[" + FormatTimestamp(p_.process->Now()) + "] " + text + "\r\n";
  p_.fs->Append(path, p_.codepage->ToAnsi(line));
}

}  // namespace mb
