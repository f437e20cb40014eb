// GetVal / PutVal: the agent's only way into its INI files. Text crosses the
// seam in the ANSI code page; a read value is cut to 1023 bytes, the way
// the system's 1024-byte buffer cuts it.
#include <array>

#include "agent/frm_tray.h"
#include "support/text.h"

namespace mb {

namespace {
constexpr std::uint32_t kIniBufferSize = 1024;
}

std::string frmTray::GetVal(const std::string& strSection, const std::string& strKey,
                            const std::string& strFile) {
  try {
    const auto& cp = *p_.codepage;
    std::array<char, kIniBufferSize> buf{};
    const std::uint32_t count = p_.profiles->GetString(
        cp.ToAnsi(strSection), cp.ToAnsi(strKey), "", buf.data(), kIniBufferSize, strFile);
    if (count == 0) return "";
    const std::string ansi(buf.data(), std::min<std::size_t>(count, kIniBufferSize - 1));
    return text::RemoveAll(cp.FromAnsi(ansi), std::string_view("\0", 1));
  } catch (const std::exception&) {
    return "";
  }
}

void frmTray::PutVal(const std::string& strSection, const std::string& strKey,
                     const std::string& strVal, const std::string& strFile) {
  try {
    const auto& cp = *p_.codepage;
    p_.profiles->WriteString(cp.ToAnsi(strSection), cp.ToAnsi(strKey), cp.ToAnsi(strVal),
                             strFile);
  } catch (const std::exception&) {
    // A failed write is not reported; the caller goes on.
  }
}

}  // namespace mb
