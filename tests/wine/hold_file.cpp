// Holds a file as a mail program holds its add-in, for the desktop checks
// under Wine (tests/wine/desktop.sh):
//   mb_hold_file.exe load PATH READY SECONDS        LoadLibraryW: a loaded DLL
//   mb_hold_file.exe share-read PATH READY SECONDS  CreateFileW with FILE_SHARE_READ
//                                                   only: no rename, no delete
// It writes the file READY once it holds PATH, then holds it until a file
// READY.stop appears or SECONDS pass. Exit status 0, or 1 when PATH cannot
// be held (the reason on stderr).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: mb_hold_file.exe load|share-read PATH READY SECONDS\n");
    return 2;
  }
  const std::wstring mode = argv[1];
  const std::wstring path = argv[2];
  const std::wstring ready = argv[3];
  const long seconds = std::wcstol(argv[4], nullptr, 10);
  HMODULE module = nullptr;
  HANDLE file = INVALID_HANDLE_VALUE;
  if (mode == L"load") {
    module = LoadLibraryW(path.c_str());
  } else if (mode == L"share-read") {
    file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (module == nullptr && file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "mb_hold_file: cannot hold the file (error %lu)\n", GetLastError());
    return 1;
  }
  HANDLE signal = CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (signal != INVALID_HANDLE_VALUE) CloseHandle(signal);
  const std::wstring stop = ready + L".stop";
  for (long waited = 0; waited < seconds * 10 && !Exists(stop); ++waited) Sleep(100);
  if (module != nullptr) FreeLibrary(module);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return 0;
}
