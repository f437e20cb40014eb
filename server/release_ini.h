// The vendor's description files of a release folder (release.ini and
// files.ini): UTF-8 INI text read by the agents' own INI engine, so section
// and key names match without regard to case and the first of a name wins,
// as on Windows. Values are taken as written, trimmed. A UTF-8 byte order
// mark is skipped.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/profile_document.h"

namespace mb::server {

class ReleaseIni {
 public:
  // A missing file reads as an empty one.
  static ReleaseIni Load(const std::filesystem::path& path);
  static ReleaseIni Parse(const std::string& text);

  std::optional<std::string> Get(const std::string& section, const std::string& key) const;
  // Section names as written, in the order they first appear (for
  // reporting sections that name no file).
  const std::vector<std::string>& Sections() const { return sections_; }

 private:
  posix::ProfileDocument document_;
  std::vector<std::string> sections_;
};

}  // namespace mb::server
