#include "server/observe/known_releases.h"

#include "server/release_ini.h"

namespace mb::server {
namespace fs = std::filesystem;

std::string ComponentWordOf(const std::string& key) {
  const std::size_t first = key.find('/');
  const std::size_t second = key.find('/', first + 1);
  return key.substr(first + 1, second == std::string::npos ? second : second - first - 1);
}

void LearnReleases(const ReleaseSnapshot& snapshot, const fs::path& root, KnownReleases& known) {
  for (const auto& [key, c] : snapshot.Components()) {
    if (c.manifest.status == 200 && !c.last_version.empty())
      known[ComponentWordOf(key)].insert(c.last_version);
  }
  for (const char* folder : {"ORG", "MIRROR"}) {
    for (Component c : {Component::kOutlook, Component::kExpress, Component::kAgent}) {
      const std::string word(ComponentFolderName(c));
      std::string why;
      const auto ini = ReadReleaseIni(root / folder / (word + ".previous") / "release.ini", why);
      if (!ini) continue;
      const std::optional<std::string> release = IniValue(*ini, "RELEASE", "LAST_VERSION");
      if (release && !release->empty()) known[word].insert(*release);
    }
  }
}

}  // namespace mb::server
