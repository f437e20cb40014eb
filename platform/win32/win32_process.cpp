#include "platform/win32/win32_process.h"

// clang-format off
#include "platform/win32/win32_windows.h"
#include <shellapi.h>
#include <ntsecapi.h>
// clang-format on

#include <cstdint>
#include <memory>
#include <string>

#include "platform/win32/win32_text.h"

namespace mb::win32 {
namespace {

std::wstring ModulePath() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) throw LastError();
    if (n < buf.size()) return buf.substr(0, n);
    buf.resize(buf.size() * 2);
  }
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Owned by the thread that took it; released and closed when it goes. A
// mutex whose owner ended without releasing it is taken over (abandoned).
class MutexLock : public platform::InstanceLock {
 public:
  explicit MutexLock(HANDLE h) : h_(h) {}
  ~MutexLock() override {
    ReleaseMutex(h_);
    CloseHandle(h_);
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  HANDLE h_;
};

}  // namespace

std::wstring ArgumentsAfterProgram(const std::wstring& cmd) {
  std::size_t i = 0;
  if (!cmd.empty() && cmd[0] == L'"') {
    const std::size_t close = cmd.find(L'"', 1);
    i = close == std::wstring::npos ? cmd.size() : close + 1;
  } else {
    while (i < cmd.size() && !IsBlank(cmd[i])) ++i;
  }
  while (i < cmd.size() && IsBlank(cmd[i])) ++i;
  return cmd.substr(i);
}

std::wstring DirectoryOf(const std::wstring& file_path) {
  const std::size_t sep = file_path.find_last_of(L"\\/");
  if (sep == std::wstring::npos) return {};
  const bool drive_root = sep == 2 && file_path[1] == L':';
  return file_path.substr(0, drive_root ? sep + 1 : sep);
}

std::string Win32Process::InstallDir() { return WideToUtf8(DirectoryOf(ModulePath())); }

std::string Win32Process::Arguments() {
  return WideToUtf8(ArgumentsAfterProgram(GetCommandLineW()));
}

std::string Win32Process::SystemDir() {
  char buf[MAX_PATH + 1] = {};
  const UINT n = GetSystemDirectoryA(buf, sizeof buf);
  if (n == 0 || n >= sizeof buf) return {};
  return AnsiToUtf8(std::string(buf, n));
}

platform::LocalTime Win32Process::Now() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

std::uint32_t Win32Process::RandomNumber() {
  std::uint32_t value = 0;
  if (RtlGenRandom(&value, sizeof value)) return value;
  // The system's source failed: the tick count and the process id still
  // differ from machine to machine.
  return static_cast<std::uint32_t>(GetTickCount64()) ^ (GetCurrentProcessId() * 2654435761u);
}

// An install directory that the ANSI code page cannot spell would reach
// ShellExecuteA as "?" and the updater would never start: such texts go to
// ShellExecuteW.
void Win32Process::ShellOpen(const std::string& file, const std::string& params,
                             const std::string& dir) {
  HWND owner = owner_ ? static_cast<HWND>(owner_()) : nullptr;
  if (FitsAnsiCodePage(file) && FitsAnsiCodePage(params) && FitsAnsiCodePage(dir)) {
    ShellExecuteA(owner, "open", Utf8ToAnsi(file).c_str(), Utf8ToAnsi(params).c_str(),
                  Utf8ToAnsi(dir).c_str(), SW_SHOWNORMAL);
    return;
  }
  ShellExecuteW(owner, L"open", Utf8ToWide(file).c_str(), Utf8ToWide(params).c_str(),
                Utf8ToWide(dir).c_str(), SW_SHOWNORMAL);
}

std::wstring InstanceMutexName(const std::wstring& install_dir) {
  std::wstring folded = install_dir;
  if (!folded.empty()) CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
  std::uint64_t digest = 14695981039346656037ull;  // FNV-1a over the UTF-16 units
  for (wchar_t c : folded) {
    digest = (digest ^ static_cast<std::uint16_t>(c)) * 1099511628211ull;
  }
  wchar_t hex[17] = {};
  for (int i = 15; i >= 0; --i, digest >>= 4) hex[i] = L"0123456789abcdef"[digest & 0xF];
  return std::wstring(L"Local\\Mailbeacon-") + hex;
}

std::unique_ptr<platform::InstanceLock> Win32Process::TryLockInstance(
    const std::string& install_dir) {
  HANDLE h = CreateMutexW(nullptr, FALSE, InstanceMutexName(Utf8ToWide(install_dir)).c_str());
  if (h == nullptr) return std::make_unique<platform::InstanceLock>();  // guards nothing
  const DWORD waited = WaitForSingleObject(h, 0);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return std::make_unique<MutexLock>(h);
  CloseHandle(h);
  return nullptr;
}

}  // namespace mb::win32
