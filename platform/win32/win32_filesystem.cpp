#include "platform/win32/win32_filesystem.h"

#include "platform/win32/win32_windows.h"

#include <algorithm>
#include <atomic>

#include "platform/path_root.h"
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

}  // namespace

std::wstring TempNameBeside(const std::wstring& path) {
  static std::atomic<unsigned> counter{0};
  return path + L".~" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) +
         L".tmp";
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

void Win32FileSystem::DeleteFile(const std::string& path) {
  if (!DeleteFileW(Utf8ToWide(path).c_str())) throw LastError();
}

void Win32FileSystem::CopyFile(const std::string& from, const std::string& to) {
  const std::wstring wto = Utf8ToWide(to);
  const std::wstring tmp = TempNameBeside(wto);
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

void Win32FileSystem::Append(const std::string& path, const std::string& bytes) {
  UniqueHandle h(CreateFileW(Utf8ToWide(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.Valid()) throw LastError();
  WriteAll(h.Get(), bytes);
}

// Windows runs any .exe; there is no permission bit to set.
void Win32FileSystem::MakeExecutable(const std::string&) {}

}  // namespace mb::win32
