// GetOutlookVersion: the installed Outlook's version, read from its COM
// registration.
#include "agent/frm_tray.h"
#include "support/text.h"

namespace mb {

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
