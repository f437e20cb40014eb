// The package's custom actions (mb_msi_actions.dll, stored in the package):
//
// FindSuccessor (immediate, on uninstall): sets MB_SUCCESSOR to the product
// code of another installed release of this product, if any. Then this
// uninstall is the removal of an older release by a newer one, which takes
// over the agent's files. (Windows Installer says so in
// UPGRADINGPRODUCTCODE; Wine's does not, so the package asks itself.)
//
// CheckSettings (immediate, first): a setting property that holds only
// blanks (spaces, tabs, line breaks) is made empty, so it counts as not
// given: the package writes no value for it (an upgrade keeps the older
// one). A TrustedKeys of " " would have kept the agent refusing every
// release; the agent reads a value that names no key as a list gone wrong.
// MB_REPORTS (0 or 1) and MB_ROLLOUT_SLOT (0 to 99) outside their values
// fail the install: a pilot machine given slot 100 would otherwise draw a
// slot of its own and stage like any other, and nobody would know.
//
// TrimUrl (immediate, on install): MB_URL without the "/" at its end. The
// agent puts V_DIR right after URL, so "http://host/" would make every
// request "//mailbeaconhome/...".
//
// FindInstallDir (immediate, on uninstall): the folder this installation put
// its programs in, as Windows Installer registered the agent's component,
// never a property that can be given on the command line: INSTALLDIR is set
// to it (so the package's own files go from there), and MB_LEFTOVERS to what
// RemoveLeftovers removes. When that folder is the package's own
// ([LocalAppDataFolder]Programs\Mailbeacon\), the folder goes whole, with
// what the agent's releases put in sub-folders of it; a folder given at
// install loses only what the agent made: update\ and the "_old" backups.
//
// RemoveLeftovers (deferred, on a real uninstall): removes what the agent
// made beside itself and the package cannot name file by file: the update
// folder with everything in it, and the "_old" backups of the programs.
// Windows Installer's RemoveFile table would need a wildcard for the
// folder's files (Wine's installer does not expand one) and cannot remove
// subfolders at all. The paths come in CustomActionData, separated by "|"
// (a character no Windows path holds); only absolute paths below a folder
// are taken. A path that cannot be removed is logged and left: the
// programs' removal goes on, as for a file in use.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which they need:
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

namespace {

void Log(MSIHANDLE install, const std::wstring& text) {
  PMSIHANDLE record = MsiCreateRecord(0);
  MsiRecordSetStringW(record, 0, text.c_str());
  MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
}

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
  DWORD size = 0;
  wchar_t empty[1] = L"";
  if (MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) return {};
  std::wstring value(size + 1, L'\0');
  size = static_cast<DWORD>(value.size());
  if (MsiGetPropertyW(install, name, value.data(), &size) != ERROR_SUCCESS) return {};
  value.resize(size);
  return value;
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (size_t end; (end = text.find(separator, start)) != std::wstring::npos; start = end + 1) {
    parts.push_back(text.substr(start, end - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

// "C:\dir\name" or "\\server\share\dir\name": never a relative path (the
// action's working folder is not ours) and never a drive or share root.
bool IsBelowAFolder(const std::wstring& path) {
  size_t root_end = std::wstring::npos;
  if (path.size() > 3 && path[1] == L':' && path[2] == L'\\') {
    root_end = 3;
  } else if (path.rfind(L"\\\\", 0) == 0) {
    const size_t share = path.find(L'\\', 2);
    const size_t below = share == std::wstring::npos ? share : path.find(L'\\', share + 1);
    if (below != std::wstring::npos) root_end = below + 1;
  }
  return root_end != std::wstring::npos && path.size() > root_end;
}

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool Failed(MSIHANDLE install, const std::wstring& path) {
  const DWORD error = GetLastError();
  if (IsMissing(error)) return false;
  Log(install,
      L"RemoveLeftovers: cannot remove " + path + L" (error " + std::to_wstring(error) + L")");
  return true;
}

bool RemoveTree(MSIHANDLE install, const std::wstring& path);

// Removes a folder's entries, each as far as it goes.
bool RemoveEntries(MSIHANDLE install, const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return !Failed(install, folder);
  bool removed = true;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..")
      removed = RemoveTree(install, folder + L"\\" + name) && removed;
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return removed;
}

// Removes a file, or a folder with everything in it; a link or junction is
// removed itself, never followed. True when nothing is left at the path.
bool RemoveTree(MSIHANDLE install, const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return !Failed(install, path);
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return DeleteFileW(path.c_str()) || !Failed(install, path);
  const bool link = attributes & FILE_ATTRIBUTE_REPARSE_POINT;
  if (!link && !RemoveEntries(install, path)) return false;
  return RemoveDirectoryW(path.c_str()) || !Failed(install, path);
}

// The agent's component (Mailbeacon.wxs), whose key path is Mailbeacon.exe.
const wchar_t kAgentComponent[] = L"{8817F195-F06B-48F0-BD4E-9E8BA804EEAE}";

// "C:\dir\" of "C:\dir\file"; empty when there is no "\".
std::wstring FolderOf(const std::wstring& file) {
  const size_t slash = file.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : file.substr(0, slash + 1);
}

// Where this product's agent is installed, as registered; empty if nowhere.
std::wstring RegisteredFolder(MSIHANDLE install) {
  const std::wstring product = Property(install, L"ProductCode");
  wchar_t path[MAX_PATH + 1];
  DWORD size = MAX_PATH;
  const INSTALLSTATE state = MsiGetComponentPathW(product.c_str(), kAgentComponent, path, &size);
  if (state != INSTALLSTATE_LOCAL) return {};
  return FolderOf(path);
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
  return !a.empty() && _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// A whole number from low to high, in decimal digits only.
bool WholeNumberIn(const std::wstring& text, int low, int high) {
  if (text.empty() || text.size() > 3) return false;
  if (text.find_first_not_of(L"0123456789") != std::wstring::npos) return false;
  const int value = std::stoi(text);
  return value >= low && value <= high;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall CheckSettings(MSIHANDLE install) {
  for (const wchar_t* name : {L"MB_URL", L"MB_VDIR", L"MB_LANGUAGE", L"MB_INSTALLTYPE",
                              L"MB_TRUSTED_KEYS", L"MB_TRUSTED_ROOT", L"MB_REPORTS",
                              L"MB_ROLLOUT_SLOT"}) {
    const std::wstring value = Property(install, name);
    if (value.empty() || value.find_first_not_of(L" \t\r\n") != std::wstring::npos) continue;
    MsiSetPropertyW(install, name, L"");
    Log(install, std::wstring(L"CheckSettings: ") + name + L" holds only blanks, not written");
  }
  struct Range {
    const wchar_t* name;
    int low, high;
  };
  for (const Range& r : {Range{L"MB_REPORTS", 0, 1}, Range{L"MB_ROLLOUT_SLOT", 0, 99}}) {
    const std::wstring value = Property(install, r.name);
    if (value.empty() || WholeNumberIn(value, r.low, r.high)) continue;
    Log(install, std::wstring(L"CheckSettings: ") + r.name + L" is " + value + L", not " +
                     std::to_wstring(r.low) + L" to " + std::to_wstring(r.high) +
                     L": nothing installed");
    return ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall TrimUrl(MSIHANDLE install) {
  std::wstring url = Property(install, L"MB_URL");
  const size_t end = url.find_last_not_of(L'/');
  const std::wstring trimmed = end == std::wstring::npos ? std::wstring() : url.substr(0, end + 1);
  if (trimmed != url) {
    MsiSetPropertyW(install, L"MB_URL", trimmed.c_str());
    Log(install, L"TrimUrl: MB_URL " + url + L" written as " + trimmed);
  }
  return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall FindInstallDir(MSIHANDLE install) {
  const std::wstring folder = RegisteredFolder(install);
  if (folder.empty()) {
    Log(install, L"FindInstallDir: the agent is not registered as installed; nothing else removed");
    return ERROR_SUCCESS;
  }
  MsiSetPropertyW(install, L"INSTALLDIR", folder.c_str());
  const std::wstring own = Property(install, L"LocalAppDataFolder") + L"Programs\\Mailbeacon\\";
  const std::wstring leftovers =
      SameFolder(folder, own)
          ? folder
          : folder + L"update|" + folder + L"Mailbeacon.exe_old|" + folder +
                L"SwiftPatcher_Mailbeacon.exe_old";
  MsiSetPropertyW(install, L"MB_LEFTOVERS", leftovers.c_str());
  Log(install, L"FindInstallDir: installed in " + folder);
  return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall FindSuccessor(MSIHANDLE install) {
  const std::wstring upgrade_code = Property(install, L"UpgradeCode");
  const std::wstring product_code = Property(install, L"ProductCode");
  wchar_t related[39];
  for (DWORD i = 0; MsiEnumRelatedProductsW(upgrade_code.c_str(), 0, i, related) == ERROR_SUCCESS;
       ++i) {
    if (_wcsicmp(related, product_code.c_str()) != 0) {
      MsiSetPropertyW(install, L"MB_SUCCESSOR", related);
      Log(install, L"FindSuccessor: " + std::wstring(related) + L" takes over");
      break;
    }
  }
  return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall RemoveLeftovers(MSIHANDLE install) {
  for (std::wstring& path : Split(Property(install, L"CustomActionData"), L'|')) {
    while (path.size() > 1 && path.back() == L'\\') path.pop_back();
    if (!IsBelowAFolder(path)) {
      if (!path.empty())
        Log(install, L"RemoveLeftovers: not an absolute path below a folder, left: " + path);
      continue;
    }
    const bool present = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (present && RemoveTree(install, path)) Log(install, L"RemoveLeftovers: removed " + path);
  }
  return ERROR_SUCCESS;
}
