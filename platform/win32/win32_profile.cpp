#include "platform/win32/win32_profile.h"

#include <algorithm>

#include "platform/temporary_names.h"
#include "platform/win32/win32_filesystem.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_windows.h"

namespace mb::win32 {
namespace {

// GetPrivateProfileStringA's contract over the W function: at most size - 1
// bytes of the ANSI value and a NUL; the byte count is returned.
std::uint32_t GetStringWide(const std::string& section, const std::string& key,
                            const std::string& def, char* buf, std::uint32_t size,
                            const std::string& file) {
  if (size == 0) return 0;
  std::wstring wbuf(size, L'\0');
  const DWORD n = GetPrivateProfileStringW(AnsiToWide(section).c_str(), AnsiToWide(key).c_str(),
                                           AnsiToWide(def).c_str(), wbuf.data(), size,
                                           Utf8ToWide(file).c_str());
  wbuf.resize(n);
  const std::string ansi = Utf8ToAnsi(WideToUtf8(wbuf));
  const std::size_t count = std::min<std::size_t>(ansi.size(), size - 1);
  std::copy_n(ansi.data(), count, buf);
  buf[count] = '\0';
  return static_cast<std::uint32_t>(count);
}

bool WriteStringTo(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) {
  if (!FitsAnsiCodePage(file)) {
    return WritePrivateProfileStringW(AnsiToWide(section).c_str(), AnsiToWide(key).c_str(),
                                      AnsiToWide(value).c_str(), Utf8ToWide(file).c_str()) != FALSE;
  }
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                    Utf8ToAnsi(file).c_str()) != FALSE;
}

}  // namespace

Win32ProfileStore::~Win32ProfileStore() {
  batch_depth_ = 0;
  ReplaceAll();  // a batch left open is put on disk rather than lost
}

std::uint32_t Win32ProfileStore::GetString(const std::string& section, const std::string& key,
                                           const std::string& def, char* buf, std::uint32_t size,
                                           const std::string& file) {
  const auto copy = copies_.find(file);
  const std::string& path = copy != copies_.end() ? copy->second : file;
  if (!FitsAnsiCodePage(path)) return GetStringWide(section, key, def, buf, size, path);
  return GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buf, size,
                                  Utf8ToAnsi(path).c_str());
}

bool Win32ProfileStore::WriteString(const std::string& section, const std::string& key,
                                    const std::string& value, const std::string& file) {
  platform::ProfileBatch one_write(*this);
  const std::string copy = CopyFor(file);
  return !copy.empty() && WriteStringTo(section, key, value, copy);
}

void Win32ProfileStore::BeginBatch() { ++batch_depth_; }

void Win32ProfileStore::EndBatch() {
  if (batch_depth_ == 0 || --batch_depth_ > 0) return;
  ReplaceAll();
}

std::string Win32ProfileStore::CopyFor(const std::string& file) {
  if (const auto it = copies_.find(file); it != copies_.end()) return it->second;
  const std::wstring wfile = Utf8ToWide(file);
  const std::wstring copy = TempNameBeside(wfile, platform::TemporaryKind::kCopy);
  if (GetFileAttributesW(wfile.c_str()) != INVALID_FILE_ATTRIBUTES &&
      !CopyFileW(wfile.c_str(), copy.c_str(), TRUE)) {
    return {};
  }
  return copies_[file] = WideToUtf8(copy);
}

void Win32ProfileStore::ReplaceAll() {
  for (const auto& [file, copy] : copies_) {
    const std::wstring wcopy = Utf8ToWide(copy);
    if (GetFileAttributesW(wcopy.c_str()) == INVALID_FILE_ATTRIBUTES) continue;  // nothing written
    if (!MoveFileExW(wcopy.c_str(), Utf8ToWide(file).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      DeleteFileW(wcopy.c_str());
    }
  }
  copies_.clear();
}

}  // namespace mb::win32
