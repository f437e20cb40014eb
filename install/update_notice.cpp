// The update notice, fetched just before the hand-off for the product to
// show; the agent never reads it.
#include "agent/bas_win_api.h"
#include "agent/frm_tray.h"
#include "planning/ini_formats.h"
#include "planning/transfer_limits.h"
#include "support/text.h"

namespace mb {

void frmTray::DownloadUpdateNotice(const std::string& /*unused*/) {
  try {
    const std::string query = text::RemoveAll(state_.FolderParam, "&");
    const std::string url =
        state_.ServerUrl + state_.VirtualDir + "/download/update_notice.aspx?" + query;
    basWinAPI::DownloadFile(p_, url, state_.UpdateDir + "\\" + ini::kNoticeFile, TextTransfer());
  } catch (const std::exception&) {
    // Nothing is reported; an earlier notice stays in place.
  }
}

}  // namespace mb
