// The registry, as the four ANSI calls the agent makes on Windows
// (RegOpenKeyExA, RegQueryValueExA, RegSetValueExA, RegCloseKey).
// Names and string data are bytes in the system ANSI code page.
// Every call returns 0 on success or a Windows error code.
#pragma once

#include <cstdint>
#include <string>

namespace mb::platform {

using RegKey = std::uintptr_t;

inline constexpr std::uint32_t kHkeyClassesRoot = 0x80000000u;
inline constexpr std::uint32_t kHkeyCurrentUser = 0x80000001u;
inline constexpr std::uint32_t kHkeyLocalMachine = 0x80000002u;

inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;   // missing key or value
inline constexpr long kErrorAccessDenied = 5;
inline constexpr long kErrorInvalidHandle = 6;
inline constexpr long kErrorMoreData = 234;     // data larger than the buffer
inline constexpr long kErrorBadRegistry = 1009;  // store unreadable/malformed

inline constexpr std::uint32_t kAgentKeyAccess = 0x2003F;

class Registry {
 public:
  virtual ~Registry() = default;

  // Opens an existing key under a predefined root; never creates one.
  // Returns 2 when the key does not exist.
  virtual long OpenKey(std::uint32_t root, const std::string& ansi_sub_key,
                       std::uint32_t access, RegKey* key) = 0;

  // Reads a value. `ansi_name` empty means the key's default value.
  // On entry *size is the buffer size in bytes (data may be null to ask only
  // for type and size). On return *type is the value's type and *size its
  // data size. Data larger than the buffer: 234, with *size the needed size
  // and nothing copied. REG_SZ / REG_EXPAND_SZ / REG_MULTI_SZ data come back
  // in the ANSI code page with their terminating NUL counted in *size.
  virtual long QueryValue(RegKey key, const std::string& ansi_name,
                          std::uint32_t* type, std::uint8_t* data,
                          std::uint32_t* size) = 0;

  // Stores a value (string types given in the ANSI code page).
  virtual long SetValue(RegKey key, const std::string& ansi_name,
                        std::uint32_t type, const std::uint8_t* data,
                        std::uint32_t size) = 0;

  virtual long CloseKey(RegKey key) = 0;
};

}  // namespace mb::platform
