// The download list of an out-of-date component: one record per manifest
// file that is missing or changed in its target directory.
#include <cstdint>

#include "agent/bas_win_api.h"
#include "agent/frm_tray.h"
#include "planning/ini_formats.h"
#include "platform/path_root.h"
#include "support/text.h"
#include "support/whole_number.h"

namespace mb {

namespace {

// TOTAL_FILES as a signed 16-bit number, converted as the start delay is
// ("2.5" lists two files); text that is no number, or one that does not
// fit, raises.
std::int16_t ParseTotalFiles(const std::string& text) {
  const std::optional<double> value = RoundedNumber(text);
  if (!value) throw Error(kErrTypeMismatch, "Type mismatch");
  if (*value < INT16_MIN || *value > INT16_MAX) throw Error(kErrOverflow, "Overflow");
  return static_cast<std::int16_t>(*value);
}

}  // namespace

std::int16_t frmTray::BuildDownloadList(std::int16_t kind, DownloadList& list) {
  try {
    const auto names = ini::NamesFor(kind);
    if (!names) return 0;
    const std::string manifest = state_.UpdateDir + "\\" + names->ManifestFile;
    const std::string base = ListBaseUrl(kind);
    Int16 count;
    {
      // The manifest was just downloaded and is read six times per file:
      // one batch lets the INI store check it on disk once for the plan.
      platform::ProfileBatch batch(*p_.profiles);
      const std::string total =
          text::TrimTrailingSpaces(GetVal(ini::kDownloadSection, ini::kTotalFilesKey, manifest));
      const std::string last_version =
          GetVal(ini::kDownloadSection, ini::kLastVersionKey, manifest);
      const std::int16_t n = total.empty() ? std::int16_t{0} : ParseTotalFiles(total);
      for (int i = 1; i <= n; ++i) {
        FileRecord r = ReadManifestFile(manifest, i);
        r.TargetDir = ResolveTargetDir(r.TargetDir);
        if (!MakeTargetDir(r.TargetDir)) return 0;  // the manifest stays, as on any failure
        if (NeedsFetch(r)) {
          r.DownloadUrl = base + "program=" + basWinAPI::EncodeName(*p_.codepage, r.Name, "") +
                          state_.FolderParam;
          r.LastVersion = last_version;
          ++count;
          list.push_back(std::move(r));
        }
        p_.windows->PumpMessages();
      }
    }
    p_.fs->DeleteFile(manifest);
    return count;
  } catch (const std::exception&) {
    return 0;
  }
}

// The start of every download URL of one component's list.
std::string frmTray::ListBaseUrl(std::int16_t kind) {
  const std::string base = state_.ServerUrl + state_.VirtualDir + "/download/";
  if (kind == kOutlookAddin) {
    return base + "outlook_dll.aspx?version=" + OutlookVersionLabel() + "&";
  }
  if (kind == kExpressPlugin) return base + "express_exe.aspx?";
  return base + "agent_exe.aspx?";
}

FileRecord frmTray::ReadManifestFile(const std::string& manifest, int index) {
  const std::string section = ini::kFileSectionPrefix + std::to_string(index);
  auto read = [&](const char* key) {
    return text::TrimTrailingSpaces(GetVal(section, key, manifest));
  };
  FileRecord r;
  r.Name = read(ini::kNameKey);
  r.Version = read(ini::kVersionKey);
  r.OrgName = read(ini::kOrgNameKey);
  r.TargetDir = read(ini::kTargetDirKey);
  r.SelfRegister = read(ini::kSelfRegisterKey);
  r.Hash = read(ini::kHashKey);
  if (keys_.Active()) {  // only signed releases have them
    r.Sha256 = read(ini::kSha256Key);
    r.Length = read(ini::kLengthKey);
  }
  r.BackUp = r.Name == r.OrgName ? "NO" : "YES";
  return r;
}

// "system32" is the system directory; a value starting with "." is relative
// to the install directory; anything else is used as written.
std::string frmTray::ResolveTargetDir(const std::string& dir) {
  if (dir == "system32") return basWinAPI::GetSystemDir(p_);
  if (!dir.empty() && dir[0] == '.') {
    return dir.size() == 1 ? InstallDir() : InstallDir() + dir.substr(1);
  }
  return dir;
}

// A renamed file is fetched when missing or when the install record holds
// another version of it; a file installed under its own name only when
// missing.
bool frmTray::NeedsFetch(const FileRecord& r) {
  if (r.Name != r.OrgName) {
    if (!p_.fs->IsOrdinaryFile(r.TargetDir + "\\" + r.OrgName)) return true;
    return GetVal(r.OrgName, ini::kVersionKey, state_.InstallIniPath) != r.Version;
  }
  p_.windows->PumpMessages();
  return !p_.fs->IsOrdinaryFile(r.TargetDir + "\\" + r.Name);
}

// A folder that could not hold the file makes the whole list fail, and the
// pass with it (target_dir_failed_), rather than silently listing nothing.
// So does a file in the folder's place, which MakeDirPath takes as there,
// and a root that is not there (a share or a drive: MakeDirPath never makes
// a root, so "\\server\share" alone passes it without a word).
bool frmTray::MakeTargetDir(const std::string& dir) {
  bool made = false;
  std::string error = "cannot be made";
  try {
    MakeDirPath(dir);
    made = p_.fs->Exists(dir) && !p_.fs->IsOrdinaryFile(dir);
  } catch (const std::exception& e) {
    error = e.what();
    made = false;
  }
  if (!made) {
    target_dir_failed_ = true;
    target_dir_problem_ = FolderProblem(dir, error);
  }
  return made;
}

// Every missing level below the path's root is made; the root itself (a
// drive, a network share, the top of the tree) never is. A path without a
// root on this system (relative, or a drive letter on POSIX) is refused
// before anything is looked at: it would name a folder that depends on the
// working directory.
void frmTray::MakeDirPath(const std::string& path) {
  const auto root = p_.fs->RootLength(path);
  if (!root) throw Error(kErrNotAbsoluteFolder, "Not an absolute folder: " + path);
  if (p_.fs->Exists(path)) return;
  std::string acc = path.substr(0, *root);
  if (acc.size() == 1) acc.clear();  // "\": each level adds its own separator
  std::string part;
  for (std::size_t i = *root; i <= path.size(); ++i) {
    if (i < path.size() && !platform::IsPathSeparator(path[i])) {
      part += path[i];
      continue;
    }
    if (part.empty()) continue;
    acc += "\\" + part;
    part.clear();
    if (!p_.fs->Exists(acc)) p_.fs->CreateDirectory(acc);
  }
}

}  // namespace mb
