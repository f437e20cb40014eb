// Private-profile files through GetPrivateProfileStringA and
// WritePrivateProfileStringA. Windows writes each value straight to disk,
// so a batch needs nothing of its own.
//
// A file path that the ANSI code page cannot spell (a Korean folder name on
// a Western system) would reach the A functions as "?" and miss its file;
// such a path goes to the W functions instead, with the ANSI names and
// values converted exactly as the A functions convert them.
#pragma once

#include "platform/profile.h"

namespace mb::win32 {

class Win32ProfileStore : public platform::ProfileStore {
 public:
  std::uint32_t GetString(const std::string& section, const std::string& key,
                          const std::string& def, char* buf, std::uint32_t size,
                          const std::string& file) override;
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override;
};

}  // namespace mb::win32
