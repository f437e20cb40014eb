#include "platform/win32/win32_filesystem.h"

#include "platform/win32/win32_windows.h"

#include <algorithm>

#include "platform/path_root.h"
#include "platform/temporary_names.h"
#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_text.h"

namespace mb::win32 {
namespace {

class Win32InputFile : public platform::InputFile {
 public:
  explicit Win32InputFile(HANDLE h) : file_(h) {}
  std::size_t Read(char* buf, std::size_t n) override {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(file_.Get(), buf, want, &got, nullptr)) throw LastError();
    return got;
  }

 private:
  UniqueHandle file_;
};

void WriteAll(HANDLE h, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD wrote = 0;
    if (!WriteFile(h, bytes.data() + done, chunk, &wrote, nullptr)) throw LastError();
    done += wrote;
  }
}

// What an error of the system means for replacing a file or writing in a
// folder.
platform::AccessCheck AccessOf(DWORD code) {
  platform::AccessCheck check{platform::Access::kFailed, ErrorText(code)};
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
      check.access = platform::Access::kMissing;
      break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      check.access = platform::Access::kInUse;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD:
      check.access = platform::Access::kDenied;
      break;
    default:
      break;
  }
  return check;
}

}  // namespace

bool IsReparsePoint(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileInformationByHandle(h, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::wstring TempNameBeside(const std::wstring& path, platform::TemporaryKind kind) {
  const std::size_t sep = path.find_last_of(L"\\/");
  const std::size_t name_at = sep == std::wstring::npos ? 0 : sep + 1;
  const std::string name = WideToUtf8(path.substr(name_at));
  return path.substr(0, name_at) +
         Utf8ToWide(platform::TemporaryName(name, kind, platform::RandomTemporaryTag()));
}

// Seconds from a file time to now; a time ahead of the clock counts as now.
std::int64_t SecondsSince(const FILETIME& then) {
  FILETIME now_ft{};
  GetSystemTimeAsFileTime(&now_ft);
  auto ticks = [](const FILETIME& t) {
    return (static_cast<std::int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return std::max<std::int64_t>((ticks(now_ft) - ticks(then)) / 10000000, 0);  // 100 ns ticks
}

bool Win32FileSystem::IsOrdinaryFile(const std::string& path) {
  const DWORD attrs = GetFileAttributesW(Utf8ToWide(path).c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return false;
  const DWORD not_ordinary =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  return (attrs & not_ordinary) == 0;
}

bool Win32FileSystem::Exists(const std::string& path) {
  return GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::size_t> Win32FileSystem::RootLength(const std::string& path) {
  return platform::PathRootLength(path, true);
}

void Win32FileSystem::CreateDirectory(const std::string& path) {
  if (!CreateDirectoryW(Utf8ToWide(path).c_str(), nullptr)) throw LastError();
}

// A read-only file is refused by DeleteFileW as it is: its flag goes first,
// and comes back when the file cannot be removed all the same.
void Win32FileSystem::DeleteFile(const std::string& path) {
  const std::wstring wpath = Utf8ToWide(path);
  if (DeleteFileW(wpath.c_str())) return;
  const DWORD code = GetLastError();
  const DWORD attrs = GetFileAttributesW(wpath.c_str());
  const bool read_only = attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY);
  if (code != ERROR_ACCESS_DENIED || !read_only) throw WindowsError(code);
  SetFileAttributesW(wpath.c_str(), attrs & ~DWORD{FILE_ATTRIBUTE_READONLY});
  if (DeleteFileW(wpath.c_str())) return;
  const DWORD again = GetLastError();
  SetFileAttributesW(wpath.c_str(), attrs);
  throw WindowsError(again);
}

void Win32FileSystem::CopyFile(const std::string& from, const std::string& to) {
  const std::wstring wto = Utf8ToWide(to);
  const std::wstring tmp = TempNameBeside(wto, platform::TemporaryKind::kCopy);
  if (!CopyFileW(Utf8ToWide(from).c_str(), tmp.c_str(), FALSE)) throw LastError();
  // A copied read-only source would make the temporary file undeletable on
  // a later failure and the destination read-only; the copy is ordinary.
  const DWORD attrs = GetFileAttributesW(tmp.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesW(tmp.c_str(), attrs & ~DWORD{FILE_ATTRIBUTE_READONLY});
  }
  if (!MoveFileExW(tmp.c_str(), wto.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    DeleteFileW(tmp.c_str());
    throw WindowsError(code);
  }
}

void Win32FileSystem::Rename(const std::string& from, const std::string& to) {
  if (!MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    throw LastError();
  }
}

std::unique_ptr<platform::InputFile> Win32FileSystem::OpenRead(const std::string& path) {
  HANDLE h = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw LastError();
  return std::make_unique<Win32InputFile>(h);
}

// The file itself, never what a link of that name leads to.
void Win32FileSystem::Append(const std::string& path, const std::string& bytes) {
  UniqueHandle h(CreateFileW(Utf8ToWide(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                             nullptr));
  if (!h.Valid()) throw LastError();
  if (IsReparsePoint(h.Get())) throw WindowsError(ERROR_CANT_ACCESS_FILE);
  WriteAll(h.Get(), bytes);
}

// Windows runs any .exe; there is no permission bit to set.
void Win32FileSystem::MakeExecutable(const std::string&) {}

// A link (a reparse point) is no file here: what it leads to is not the
// folder's to remove.
std::vector<platform::FolderEntry> Win32FileSystem::ListFolder(const std::string& path) {
  WIN32_FIND_DATAW found{};
  HANDLE h = FindFirstFileW((Utf8ToWide(path) + L"\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) throw LastError();
  std::vector<platform::FolderEntry> entries;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const DWORD not_file = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    const std::int64_t size =
        static_cast<std::int64_t>((std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow);
    entries.push_back({WideToUtf8(name), (found.dwFileAttributes & not_file) == 0,
                       (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0,
                       SecondsSince(found.ftLastWriteTime), size});
  } while (FindNextFileW(h, &found));
  const DWORD code = GetLastError();
  FindClose(h);
  if (code != ERROR_NO_MORE_FILES) throw WindowsError(code);
  return entries;
}

bool Win32FileSystem::IsLink(const std::string& path) {
  const DWORD attrs = GetFileAttributesW(Utf8ToWide(path).c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A junction or a link to a folder is removed as a folder (the link only,
// never the folder it leads to), any other link as a file.
void Win32FileSystem::RemoveLink(const std::string& path) {
  const std::wstring wpath = Utf8ToWide(path);
  const DWORD attrs = GetFileAttributesW(wpath.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) throw LastError();
  if (!(attrs & FILE_ATTRIBUTE_REPARSE_POINT)) throw WindowsError(ERROR_NOT_A_REPARSE_POINT);
  const BOOL removed = (attrs & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(wpath.c_str())
                                                          : DeleteFileW(wpath.c_str());
  if (!removed) throw LastError();
}

void Win32FileSystem::WriteWhole(const std::string& path, const std::string& bytes) {
  const std::wstring wpath = Utf8ToWide(path);
  const std::wstring tmp = TempNameBeside(wpath, platform::TemporaryKind::kCopy);
  {
    UniqueHandle h(CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid()) throw LastError();
    try {
      WriteAll(h.Get(), bytes);
      if (!FlushFileBuffers(h.Get())) throw LastError();
    } catch (...) {
      h.Reset();
      DeleteFileW(tmp.c_str());
      throw;
    }
  }
  if (!MoveFileExW(tmp.c_str(), wpath.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    DeleteFileW(tmp.c_str());
    throw WindowsError(code);
  }
}

// Renaming a file needs it opened with DELETE access, which a program that
// holds it without FILE_SHARE_DELETE forbids; Windows' loader maps a DLL
// so that it may still be renamed (never replaced or deleted).
platform::AccessCheck Win32FileSystem::CanReplace(const std::string& path) {
  UniqueHandle h(CreateFileW(Utf8ToWide(path).c_str(), DELETE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (h.Valid()) return {};
  return AccessOf(GetLastError());
}

platform::AccessCheck Win32FileSystem::CanWriteIn(const std::string& dir) {
  const std::wstring wdir = Utf8ToWide(dir);
  const DWORD attrs = GetFileAttributesW(wdir.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return AccessOf(GetLastError());
  if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) return AccessOf(ERROR_DIRECTORY);
  const std::wstring probe = TempNameBeside(wdir + L"\\probe", platform::TemporaryKind::kCopy);
  UniqueHandle h(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!h.Valid()) return AccessOf(GetLastError());
  return {};
}

}  // namespace mb::win32
