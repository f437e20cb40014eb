#include "platform/win32/win32_profile.h"

#include "platform/win32/win32_windows.h"

#include "platform/win32/win32_text.h"

namespace mb::win32 {

std::uint32_t Win32ProfileStore::GetString(const std::string& section, const std::string& key,
                                           const std::string& def, char* buf,
                                           std::uint32_t size, const std::string& file) {
  const std::string ansi_file = Utf8ToAnsi(file);
  return GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buf, size,
                                  ansi_file.c_str());
}

bool Win32ProfileStore::WriteString(const std::string& section, const std::string& key,
                                    const std::string& value, const std::string& file) {
  const std::string ansi_file = Utf8ToAnsi(file);
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                    ansi_file.c_str()) != FALSE;
}

}  // namespace mb::win32
