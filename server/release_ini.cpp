#include "server/release_ini.h"

#include "server/release_read.h"

namespace mb::server {

std::optional<formats::ProfileDocument> ReadReleaseIni(const std::filesystem::path& path,
                                                       std::string& why) {
  ReleaseText read = ReadReleaseText(path);
  why = read.refusal;
  if (!why.empty()) return std::nullopt;
  std::string text = std::move(read.bytes).value_or("");
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
