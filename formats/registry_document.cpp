#include "formats/registry_document.h"

#include <array>
#include <utility>

#include "formats/registry_text.h"

namespace mb::formats {
namespace {

constexpr std::array<std::pair<const char*, const char*>, 6> kRootAliases = {{
    {"HKCR", "HKEY_CLASSES_ROOT"},
    {"HKCU", "HKEY_CURRENT_USER"},
    {"HKLM", "HKEY_LOCAL_MACHINE"},
    {"HKU", "HKEY_USERS"},
    {"HKCC", "HKEY_CURRENT_CONFIG"},
    {"HKDD", "HKEY_DYN_DATA"},
}};

std::string UpperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return s;
}

std::optional<std::string> CanonicalRoot(const std::string& name) {
  const std::string upper = UpperAscii(name);
  for (const auto& [alias, full] : kRootAliases) {
    if (upper == alias || upper == full) return std::string(full);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> FoldKeyPath(const std::string& path) {
  const std::size_t slash = path.find('\\');
  const auto root = CanonicalRoot(path.substr(0, slash));
  if (!root) return std::nullopt;
  std::string out = *root;
  std::size_t start = slash;
  while (start != std::string::npos) {
    const std::size_t next = path.find('\\', start + 1);
    const std::string part =
        path.substr(start + 1, next == std::string::npos ? next : next - start - 1);
    if (!part.empty()) out += '\\' + FoldCase(part);
    start = next;
  }
  return out;
}

bool RegDocument::HasKey(const std::string& folded_path) const {
  return keys.count(folded_path) != 0;
}

const RegValueEntry* RegDocument::FindValue(const std::string& folded_path,
                                            const std::string& folded_name) const {
  for (auto section = sections.rbegin(); section != sections.rend(); ++section) {
    if (section->folded_path != folded_path) continue;
    for (auto value = section->values.rbegin(); value != section->values.rend(); ++value) {
      if (value->folded_name == folded_name) return &*value;
    }
  }
  return nullptr;
}

const RegSection* RegDocument::LastSection(const std::string& folded_path) const {
  for (auto section = sections.rbegin(); section != sections.rend(); ++section) {
    if (section->folded_path == folded_path) return &*section;
  }
  return nullptr;
}

}  // namespace mb::formats
