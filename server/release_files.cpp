#include "server/release_files.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <set>

#include "server/manifest_signature.h"
#include "server/release_folder.h"
#include "server/release_ini.h"

namespace mb::server {
namespace fs = std::filesystem;
namespace {

struct Candidate {
  PublishedFile file;
  long order = LONG_MAX;
};

std::optional<long> ParseOrder(const std::string& text) {
  try {
    std::size_t used = 0;
    long value = std::stol(text, &used);
    if (used == text.size()) return value;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

Candidate Describe(const fs::path& path, const formats::ProfileDocument& files,
                   const std::string& last_version, std::vector<std::string>& warnings) {
  Candidate c;
  PublishedFile& f = c.file;
  f.name = path.filename().string();
  f.path = path;
  f.version = IniValue(files, f.name, "VERSION").value_or(last_version);
  f.org_name = IniValue(files, f.name, "ORG_NAME").value_or(f.name);
  f.target_dir = IniValue(files, f.name, "TARGET_DIR").value_or(".");
  f.self_register = IniValue(files, f.name, "SELF_REGISTER").value_or("N");
  if (std::optional<std::string> order = IniValue(files, f.name, "ORDER")) {
    if (std::optional<long> n = ParseOrder(*order))
      c.order = *n;
    else
      warnings.push_back(f.name + ": ORDER is not a number: " + *order);
  }
  return c;
}

bool Publishable(const PublishedFile& f, std::vector<std::string>& warnings) {
  // The agent trims the name before it encodes it: spaces around it would be lost.
  if (!IsPlainFileName(f.name) || f.name.front() == ' ' || f.name.back() == ' ') {
    warnings.push_back(f.name + ": left out, the name is not a plain file name");
    return false;
  }
  if (!IsPlainFileName(f.org_name)) {
    warnings.push_back(f.name + ": left out, ORG_NAME is not a plain file name: " + f.org_name);
    return false;
  }
  return true;
}

std::string Folded(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// Sections name files without regard to case, as the INI engine reads them.
void WarnAboutMissing(const formats::ProfileDocument& files, const std::set<std::string>& on_disk,
                      std::vector<std::string>& warnings) {
  for (std::string_view section : files.SectionNames()) {
    if (!on_disk.count(Folded(std::string(section))))
      warnings.push_back(std::string(section) + ": in files.ini but not in the folder");
  }
}

}  // namespace

bool IsReleaseFileName(const std::string& name) {
  return !name.empty() && name != "release.ini" && name != "files.ini" && name != kSignatureFile &&
         name.front() != '.';
}

std::vector<PublishedFile> ListPublishedFiles(const fs::path& dir,
                                              const formats::ProfileDocument& files,
                                              const std::string& last_version,
                                              std::vector<std::string>& warnings) {
  std::vector<Candidate> found;
  std::set<std::string> on_disk;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) {
    std::string name = entry.path().filename().string();
    if (!IsReleaseFileName(name)) continue;
    if (entry.is_symlink(ec)) {
      warnings.push_back(name +
                         ": left out, a symbolic link (files are published only as "
                         "themselves; links are for folders)");
      continue;
    }
    if (!entry.is_regular_file(ec)) continue;
    on_disk.insert(Folded(name));
    Candidate c = Describe(entry.path(), files, last_version, warnings);
    if (!Publishable(c.file, warnings)) continue;
    found.push_back(std::move(c));
  }
  WarnAboutMissing(files, on_disk, warnings);
  std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
    return a.order != b.order ? a.order < b.order : a.file.name < b.file.name;
  });
  std::vector<PublishedFile> result;
  result.reserve(found.size());
  for (Candidate& c : found) result.push_back(std::move(c.file));
  return result;
}

}  // namespace mb::server
