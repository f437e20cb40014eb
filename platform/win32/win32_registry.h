// The registry through the ANSI calls themselves; names and string data are
// passed through as the caller's ANSI bytes.
#pragma once

#include "platform/registry.h"

namespace mb::win32 {

class Win32Registry : public platform::Registry {
 public:
  long OpenKey(std::uint32_t root, const std::string& ansi_sub_key, std::uint32_t access,
               platform::RegKey* key) override;
  long QueryValue(platform::RegKey key, const std::string& ansi_name, std::uint32_t* type,
                  std::uint8_t* data, std::uint32_t* size) override;
  long SetValue(platform::RegKey key, const std::string& ansi_name, std::uint32_t type,
                const std::uint8_t* data, std::uint32_t size) override;
  long CloseKey(platform::RegKey key) override;
};

}  // namespace mb::win32
