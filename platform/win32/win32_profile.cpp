#include "platform/win32/win32_profile.h"

#include <algorithm>

#include "platform/win32/win32_text.h"
#include "platform/win32/win32_windows.h"

namespace mb::win32 {
namespace {

// GetPrivateProfileStringA's contract over the W function: at most size - 1
// bytes of the ANSI value and a NUL; the byte count is returned.
std::uint32_t GetStringWide(const std::string& section, const std::string& key,
                            const std::string& def, char* buf, std::uint32_t size,
                            const std::string& file) {
  if (size == 0) return 0;
  std::wstring wbuf(size, L'\0');
  const DWORD n = GetPrivateProfileStringW(AnsiToWide(section).c_str(), AnsiToWide(key).c_str(),
                                           AnsiToWide(def).c_str(), wbuf.data(), size,
                                           Utf8ToWide(file).c_str());
  wbuf.resize(n);
  const std::string ansi = Utf8ToAnsi(WideToUtf8(wbuf));
  const std::size_t count = std::min<std::size_t>(ansi.size(), size - 1);
  std::copy_n(ansi.data(), count, buf);
  buf[count] = '\0';
  return static_cast<std::uint32_t>(count);
}

}  // namespace

std::uint32_t Win32ProfileStore::GetString(const std::string& section, const std::string& key,
                                           const std::string& def, char* buf, std::uint32_t size,
                                           const std::string& file) {
  if (!FitsAnsiCodePage(file)) return GetStringWide(section, key, def, buf, size, file);
  return GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buf, size,
                                  Utf8ToAnsi(file).c_str());
}

bool Win32ProfileStore::WriteString(const std::string& section, const std::string& key,
                                    const std::string& value, const std::string& file) {
  if (!FitsAnsiCodePage(file)) {
    return WritePrivateProfileStringW(AnsiToWide(section).c_str(), AnsiToWide(key).c_str(),
                                      AnsiToWide(value).c_str(), Utf8ToWide(file).c_str()) != FALSE;
  }
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                    Utf8ToAnsi(file).c_str()) != FALSE;
}

}  // namespace mb::win32
