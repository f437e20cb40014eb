#include "server/manifest.h"

#include <utility>

#include "server/file_digest.h"
#include "server/release_files.h"
#include "server/release_ini.h"

namespace mb::server {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

// The values of one [FILE_i] section in UTF-8, in the order they are written.
std::optional<Entries> FileEntries(const PublishedFile& f, std::vector<std::string>& warnings) {
  std::optional<std::string> hash = FileMd5Hex(f.path);
  if (!hash) {
    warnings.push_back(f.name + ": left out, the file cannot be read");
    return std::nullopt;
  }
  return Entries{{"NAME", f.name},
                 {"VERSION", f.version},
                 {"ORG_NAME", f.org_name},
                 {"TARGET_DIR", f.target_dir},
                 {"SELF_REGISTER", f.self_register},
                 {"HASH", *hash}};
}

// One section in ANSI; nothing when a value has no form in the code page.
std::optional<std::string> Section(const std::string& name, const Entries& entries,
                                   const AnsiCodePage& cp) {
  std::string out = "[" + name + "]\r\n";
  for (const auto& [key, value] : entries) {
    std::optional<std::string> ansi = cp.FromUtf8(value);
    if (!ansi) return std::nullopt;
    out += key + "=" + *ansi + "\r\n";
  }
  return out;
}

std::string FileSections(const std::vector<PublishedFile>& files, const AnsiCodePage& cp,
                         int& count, std::vector<std::string>& warnings) {
  std::string out;
  for (const PublishedFile& f : files) {
    std::optional<Entries> entries = FileEntries(f, warnings);
    if (!entries) continue;
    std::optional<std::string> section = Section("FILE_" + std::to_string(count + 1), *entries, cp);
    if (!section) {
      warnings.push_back(f.name + ": left out, code page " + std::to_string(cp.Number()) +
                         " cannot hold its name or values");
      continue;
    }
    out += "\r\n" + *section;
    ++count;
  }
  return out;
}

}  // namespace

ManifestResult BuildManifest(const std::filesystem::path& component_dir, const AnsiCodePage& cp) {
  ManifestResult result;
  std::optional<std::string> last_version =
      ReleaseIni::Load(component_dir / "release.ini").Get("RELEASE", "LAST_VERSION");
  if (!last_version || last_version->empty()) {
    result.warnings.push_back((component_dir / "release.ini").string() +
                              ": no [RELEASE] LAST_VERSION, nothing published");
    return result;
  }
  std::vector<PublishedFile> files =
      ListPublishedFiles(component_dir, *last_version, result.warnings);
  int count = 0;
  std::string sections = FileSections(files, cp, count, result.warnings);
  std::optional<std::string> head = Section(
      "DOWNLOAD", {{"TOTAL_FILES", std::to_string(count)}, {"LAST_VERSION", *last_version}}, cp);
  if (!head) {
    result.warnings.push_back("LAST_VERSION has no form in code page " +
                              std::to_string(cp.Number()));
    return result;
  }
  result.text = *head + sections;
  return result;
}

}  // namespace mb::server
