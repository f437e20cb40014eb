#include "server/release_ini.h"

#include <fstream>
#include <iterator>

namespace mb::server {

formats::ProfileDocument ReadReleaseIni(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text(std::istreambuf_iterator<char>(in), {});
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  return formats::ProfileDocument(std::move(text));
}

std::optional<std::string> IniValue(const formats::ProfileDocument& ini, std::string_view section,
                                    std::string_view key) {
  std::string_view value;
  if (!ini.Find(formats::NormalizeIniName(section), formats::NormalizeIniName(key), value))
    return std::nullopt;
  return std::string(value);
}

}  // namespace mb::server
