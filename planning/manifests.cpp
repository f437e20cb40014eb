// Fetching the manifests of one run and comparing the published release
// with the installed one. Versions are compared as exact text, never parsed.
#include "agent/bas_win_api.h"
#include "agent/frm_tray.h"
#include "planning/ini_formats.h"
#include "planning/transfer_limits.h"
#include "support/text.h"

namespace mb {

// The product year the server knows Outlook builds by.
std::string frmTray::OutlookVersionLabel() {
  std::string major = GetOutlookVersion();
  if (major == "9") return "2000";
  if (major == "10") return "2002";
  if (major == "11") return "2003";
  return major;
}

void frmTray::ReadVersionFromSite(std::int16_t kind) {
  try {
    if (kind != kOutlookAddin && kind != kExpressPlugin) return;
    const std::string base = state_.ServerUrl + state_.VirtualDir + "/download/";
    const std::string version =
        kind == kOutlookAddin ? "?version=" + OutlookVersionLabel() : "?version=new";
    const char* product_endpoint = kind == kOutlookAddin ? "outlook_dll.aspx" : "express_exe.aspx";
    const auto product = ini::NamesFor(kind);
    const auto agent = ini::NamesFor(kAgentComponent);
    manifest_urls_[kind] = base + product_endpoint + version + state_.FolderParam;
    manifest_urls_[kAgentComponent] = base + "agent_exe.aspx" + version + state_.FolderParam;
    basWinAPI::DownloadFile(p_, manifest_urls_[kind],
                            state_.UpdateDir + "\\" + product->ManifestFile, TextTransfer());
    basWinAPI::DownloadFile(p_, manifest_urls_[kAgentComponent],
                            state_.UpdateDir + "\\" + agent->ManifestFile, TextTransfer());
  } catch (const std::exception&) {
    // A failed fetch shows only through what the comparison then reads.
  }
}

bool frmTray::IsUpToDate(std::int16_t kind, std::int16_t mode) {
  try {
    std::string recorded;
    std::string published;
    if (const auto names = ini::NamesFor(kind)) {
      const char* key = mode == 0 ? ini::kInstallVersionKey : ini::kLastVersionKey;
      recorded = GetVal(names->ComponentSection, key, state_.InstallIniPath);
      published = GetVal(ini::kDownloadSection, ini::kLastVersionKey,
                         state_.UpdateDir + "\\" + names->ManifestFile);
    }
    return text::TrimTrailingSpaces(recorded) == text::TrimTrailingSpaces(published);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace mb
