// MD5File: the digest of a file on disk, as a manifest's HASH gives it.
#include "agent/frm_tray.h"
#include "support/md5.h"

namespace mb {

// The digest of the file's bytes as 32 lower-case hex digits, read in fixed
// chunks so a large file never sits whole in memory. Failures are raised.
std::string frmTray::MD5File(const std::string& path) {
  auto file = p_.fs->OpenRead(path);
  return Md5OfStream(*file);
}

}  // namespace mb
