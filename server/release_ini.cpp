#include "server/release_ini.h"

#include <fstream>
#include <iterator>
#include <set>

namespace mb::server {
namespace {

std::string WithoutBom(const std::string& text) {
  return text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text;
}

std::string Folded(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// The section names as the engine reads them: "[name]" runs to the line's
// last "]", blanks trimmed; the first spelling of a name is kept.
std::vector<std::string> SectionNames(std::string_view text) {
  std::vector<std::string> names;
  std::set<std::string> seen;
  while (!text.empty()) {
    std::size_t end = text.find_first_of("\r\n");
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    while (!line.empty() && posix::IsIniSpace(line.front())) line.remove_prefix(1);
    std::size_t close = line.rfind(']');
    if (line.empty() || line.front() != '[' || close == std::string_view::npos) continue;
    std::string_view name = posix::NormalizeIniName(line.substr(1, close - 1));
    if (seen.insert(Folded(name)).second) names.emplace_back(name);
  }
  return names;
}

}  // namespace

ReleaseIni ReleaseIni::Load(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return Parse(std::string(std::istreambuf_iterator<char>(in), {}));
}

ReleaseIni ReleaseIni::Parse(const std::string& text) {
  ReleaseIni ini;
  std::string bytes = WithoutBom(text);
  ini.sections_ = SectionNames(bytes);
  ini.document_ = posix::ProfileDocument(std::move(bytes));
  return ini;
}

std::optional<std::string> ReleaseIni::Get(const std::string& section,
                                           const std::string& key) const {
  std::string_view value;
  if (!document_.Find(posix::NormalizeIniName(section), posix::NormalizeIniName(key), value))
    return std::nullopt;
  return std::string(value);
}

}  // namespace mb::server
