#include "install/pending_list.h"

#include <cstdint>

#include "planning/ini_formats.h"
#include "rules/list_rules.h"
#include "support/text.h"

namespace mb {
namespace {

constexpr int kMaxFilesPerComponent = 32767;  // the agent's 16-bit counter

// TOTAL_FILES: empty means the component is not in the list.
int ParseTotalFiles(const std::string& section, const std::string& text) {
  const std::string digits = text::TrimSpaces(text);
  long value = 0;
  bool ok = !digits.empty() && digits.size() <= 5;
  for (char c : digits) {
    ok = ok && c >= '0' && c <= '9';
    if (ok) value = value * 10 + (c - '0');
  }
  if (!ok || value > kMaxFilesPerComponent) {
    throw ListRefused("[" + section + "] TOTAL_FILES is not a file count: \"" + text + "\"");
  }
  return static_cast<int>(value);
}

PendingFile ReadPendingFile(platform::ProfileStore& profiles, const platform::CodePage& codepage,
                            const std::string& section, const std::string& list_path) {
  auto utf8 = [&](const char* key) {
    return codepage.FromAnsi(ReadProfileValue(profiles, section, key, list_path));
  };
  PendingFile f;
  f.section = section;
  f.name = utf8(ini::kNameKey);
  f.org_name = utf8(ini::kOrgNameKey);
  f.target_dir = utf8(ini::kTargetDirKey);
  f.version_ansi = ReadProfileValue(profiles, section, ini::kVersionKey, list_path);
  f.org_name_ansi = ReadProfileValue(profiles, section, ini::kOrgNameKey, list_path);
  f.back_up = ReadProfileValue(profiles, section, ini::kBackUpKey, list_path) == "YES";
  return f;
}

ListedFile Listed(const PendingFile& f) { return {f.name, f.org_name, f.target_dir}; }

void CheckFile(const PendingFile& f, platform::FileSystem& fs, const std::string& update_dir) {
  if (std::optional<std::string> problem = ListedFileProblem(Listed(f), update_dir)) {
    throw ListRefused("[" + f.section + "] " + *problem);
  }
  if (!fs.RootLength(f.target_dir)) {
    throw ListRefused("[" + f.section + "] target directory is not absolute: \"" + f.target_dir +
                      "\"");
  }
}

// ".", ".\dir": the agent writes a folder inside the install directory this
// way when the code page cannot hold the install directory's own path.
bool IsInstallRelative(const std::string& dir) {
  return dir == "." || (dir.size() >= 2 && dir[0] == '.' && (dir[1] == '\\' || dir[1] == '/'));
}

}  // namespace

std::string ReadProfileValue(platform::ProfileStore& profiles, const std::string& section,
                             const std::string& key, const std::string& file) {
  // The agent's reads are cut to 1023 bytes; the updater reads the same way.
  constexpr std::uint32_t kValueBuffer = 1024;
  char buf[kValueBuffer];
  const std::uint32_t n = profiles.GetString(section, key, "", buf, kValueBuffer, file);
  return std::string(buf, n);
}

std::string PendingFile::Target() const { return Listed(*this).Target(); }

std::size_t PendingList::FileCount() const {
  std::size_t n = 0;
  for (const PendingComponent& c : components) n += c.files.size();
  return n;
}

PendingList ReadPendingList(platform::ProfileStore& profiles, const platform::CodePage& codepage,
                            const std::string& list_path) {
  PendingList list;
  for (std::int16_t kind = kOutlookAddin; kind <= kAgentComponent; ++kind) {
    const auto names = ini::NamesFor(kind);
    const std::string section = names->ComponentSection;
    const std::string total = ReadProfileValue(profiles, section, ini::kTotalFilesKey, list_path);
    if (total.empty()) continue;
    PendingComponent component{section, {}};
    const int count = ParseTotalFiles(section, total);
    for (int k = 1; k <= count; ++k) {
      const std::string file_section = names->PendingSectionPrefix + std::to_string(k);
      component.files.push_back(ReadPendingFile(profiles, codepage, file_section, list_path));
    }
    list.components.push_back(std::move(component));
  }
  return list;
}

void ResolveInstallRelative(PendingList& list, const std::string& install_dir) {
  for (PendingComponent& component : list.components) {
    for (PendingFile& f : component.files) {
      if (IsInstallRelative(f.target_dir)) f.target_dir = install_dir + f.target_dir.substr(1);
    }
  }
}

void CheckPendingList(const PendingList& list, platform::FileSystem& fs,
                      const std::string& update_dir) {
  ListedFiles listed;
  for (const PendingComponent& component : list.components) {
    for (const PendingFile& f : component.files) {
      CheckFile(f, fs, update_dir);
      if (std::optional<ListedFiles::Met> met = listed.Meets(Listed(f))) {
        throw ListRefused("[" + f.section + "] " + ClashText(met->clash) + ": \"" + f.name +
                          "\" as " + f.Target() + ", like [" + met->with + "]");
      }
      listed.Add(Listed(f), f.section);
    }
  }
}

void CheckSourcesPresent(const PendingList& list, platform::FileSystem& fs,
                         const std::string& update_dir) {
  for (const PendingComponent& component : list.components) {
    for (const PendingFile& f : component.files) {
      if (!fs.IsOrdinaryFile(update_dir + "\\" + f.name)) {
        throw ListRefused("[" + f.section + "] the copy to install is missing: \"" + f.name + "\"");
      }
    }
  }
}

}  // namespace mb
