// MD5File and GetOutlookVersion: facts read from outside the agent.
#include "agent/frm_tray.h"
#include "support/md5.h"
#include "support/text.h"

namespace mb {

// The digest of the file's bytes as 32 lower-case hex digits, read in fixed
// chunks so a large file never sits whole in memory. Failures are raised.
std::string frmTray::MD5File(const std::string& path) {
  auto file = p_.fs->OpenRead(path);
  return Md5OfStream(*file);
}

// The third dot piece of HKEY_CLASSES_ROOT\Outlook.Application\CurVer, e.g.
// "11" from "Outlook.Application.11"; empty when it cannot be read.
std::string frmTray::GetOutlookVersion() {
  try {
    std::string value;
    if (GetRegValue(platform::kHkeyClassesRoot, "Outlook.Application\\CurVer", "", value) != 0) {
      return "";
    }
    const auto pieces = text::Split(value, '.');
    if (pieces.size() < 3) return "";
    return pieces[2];
  } catch (const std::exception&) {
    return "";
  }
}

}  // namespace mb
