#include "platform/win32/win32_registry.h"

#include "platform/win32/win32_windows.h"

namespace mb::win32 {
namespace {

// The predefined roots are 32-bit values that Windows sign-extends into a
// 64-bit handle (HKEY_CURRENT_USER is 0xFFFFFFFF80000001 there).
HKEY RootHandle(std::uint32_t root) {
  const auto extended = static_cast<std::intptr_t>(static_cast<std::int32_t>(root));
  return reinterpret_cast<HKEY>(extended);
}

HKEY Handle(platform::RegKey key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

long Win32Registry::OpenKey(std::uint32_t root, const std::string& ansi_sub_key,
                            std::uint32_t access, platform::RegKey* key) {
  HKEY opened = nullptr;
  const LONG rc = RegOpenKeyExA(RootHandle(root), ansi_sub_key.c_str(), 0, access, &opened);
  *key = rc == ERROR_SUCCESS ? reinterpret_cast<platform::RegKey>(opened) : 0;
  return rc;
}

long Win32Registry::QueryValue(platform::RegKey key, const std::string& ansi_name,
                               std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
  DWORD t = 0;
  DWORD n = *size;
  const LONG rc = RegQueryValueExA(Handle(key), ansi_name.c_str(), nullptr, &t, data, &n);
  *type = t;
  *size = n;
  return rc;
}

long Win32Registry::SetValue(platform::RegKey key, const std::string& ansi_name, std::uint32_t type,
                             const std::uint8_t* data, std::uint32_t size) {
  return RegSetValueExA(Handle(key), ansi_name.c_str(), 0, type, data, size);
}

long Win32Registry::CloseKey(platform::RegKey key) { return RegCloseKey(Handle(key)); }

}  // namespace mb::win32
