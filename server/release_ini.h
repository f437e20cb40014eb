// The vendor's description files of a release folder (release.ini and
// files.ini): UTF-8 INI text, sections in brackets, "KEY=value" lines, ";"
// comments. Section names are kept as written (they are file names); keys are
// matched without regard to case; values lose surrounding blanks.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace mb::server {

class ReleaseIni {
 public:
  // A missing file reads as an empty one.
  static ReleaseIni Load(const std::filesystem::path& path);
  static ReleaseIni Parse(const std::string& text);

  std::optional<std::string> Get(const std::string& section, const std::string& key) const;
  bool HasSection(const std::string& section) const;
  // Sections in the order they first appear.
  const std::vector<std::string>& Sections() const { return order_; }

 private:
  std::vector<std::string> order_;
  std::map<std::string, std::map<std::string, std::string>> values_;  // keys upper-cased
};

}  // namespace mb::server
