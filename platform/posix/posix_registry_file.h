// The registry of the POSIX build: one text file in the regedit (.reg)
// format, so the same file can be imported with regedit on Windows or Wine.
// Reads parse the file afresh on every call (it is small), so changes made
// by another process show at once; writes re-read it under a lock, change
// only the one value's line(s) and replace the file atomically.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "formats/registry_document.h"
#include "formats/registry_format.h"
#include "platform/codepage.h"
#include "platform/registry.h"

namespace mb::posix {

// $MAILBEACON_REGISTRY, else $XDG_CONFIG_HOME/mailbeacon/registry.reg, else
// $HOME/.config/mailbeacon/registry.reg.
std::string DefaultRegistryPath();

class RegistryFile : public platform::Registry {
 public:
  RegistryFile(std::string path, const platform::CodePage& code_page);

  long OpenKey(std::uint32_t root, const std::string& ansi_sub_key, std::uint32_t access,
               platform::RegKey* key) override;
  long QueryValue(platform::RegKey key, const std::string& ansi_name, std::uint32_t* type,
                  std::uint8_t* data, std::uint32_t* size) override;
  long SetValue(platform::RegKey key, const std::string& ansi_name, std::uint32_t type,
                const std::uint8_t* data, std::uint32_t size) override;
  long CloseKey(platform::RegKey key) override;

  const std::string& path() const { return path_; }

 private:
  struct Loaded {
    long status = platform::kErrorSuccess;         // or kErrorBadRegistry
    std::optional<formats::RegDocument> document;  // empty when the file is missing
    bool utf16 = false;  // stored as UTF-16LE with a BOM, as regedit exports
  };

  Loaded Load(const std::string& path);
  void WarnOnce(const std::string& problem);
  std::optional<formats::RegKeyPath> KeyFor(platform::RegKey handle) const;
  static bool KeyExists(const formats::RegDocument* document, const formats::RegKeyPath& key);
  long WriteValue(const formats::RegKeyPath& key, const std::string& name, std::uint32_t type,
                  const std::string& ansi_data);

  const std::string path_;
  const platform::CodePage& code_page_;
  std::mutex mutex_;
  std::map<platform::RegKey, formats::RegKeyPath> open_keys_;
  platform::RegKey next_handle_ = 1;
  bool warned_ = false;
};

}  // namespace mb::posix
