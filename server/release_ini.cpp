#include "server/release_ini.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace mb::server {
namespace {

std::string Trim(const std::string& s) {
  const char* blanks = " \t\r";
  std::size_t first = s.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string WithoutBom(const std::string& text) {
  return text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text;
}

}  // namespace

ReleaseIni ReleaseIni::Load(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return Parse(std::string(std::istreambuf_iterator<char>(in), {}));
}

ReleaseIni ReleaseIni::Parse(const std::string& text) {
  ReleaseIni ini;
  std::istringstream lines(WithoutBom(text));
  std::string line, section;
  while (std::getline(lines, line)) {
    line = Trim(line);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = Trim(line.substr(1, line.size() - 2));
      if (!ini.HasSection(section)) ini.order_.push_back(section);
      ini.values_[section];
      continue;
    }
    std::size_t eq = line.find('=');
    if (eq == std::string::npos || !ini.HasSection(section)) continue;
    std::string key = Upper(Trim(line.substr(0, eq)));
    ini.values_[section].try_emplace(key, Trim(line.substr(eq + 1)));
  }
  return ini;
}

std::optional<std::string> ReleaseIni::Get(const std::string& section,
                                           const std::string& key) const {
  auto s = values_.find(section);
  if (s == values_.end()) return std::nullopt;
  auto v = s->second.find(Upper(key));
  if (v == s->second.end()) return std::nullopt;
  return v->second;
}

bool ReleaseIni::HasSection(const std::string& section) const {
  return values_.count(section) != 0;
}

}  // namespace mb::server
