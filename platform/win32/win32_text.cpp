#include "platform/win32/win32_text.h"

#include "platform/win32/win32_windows.h"

#include <limits>

namespace mb::win32 {
namespace {

int CheckedLength(std::size_t n) {
  if (n > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw Error(ERROR_ARITHMETIC_OVERFLOW, "Text too long to convert");
  }
  return static_cast<int>(n);
}

std::wstring ToWide(UINT cp, DWORD flags, const std::string& in) {
  if (in.empty()) return {};
  const int n = CheckedLength(in.size());
  const int len = MultiByteToWideChar(cp, flags, in.data(), n, nullptr, 0);
  if (len <= 0) throw LastError();
  std::wstring out(static_cast<std::size_t>(len), L'\0');
  MultiByteToWideChar(cp, flags, in.data(), n, out.data(), len);
  return out;
}

std::string FromWide(UINT cp, const std::wstring& in) {
  if (in.empty()) return {};
  const int n = CheckedLength(in.size());
  const int len = WideCharToMultiByte(cp, 0, in.data(), n, nullptr, 0, nullptr, nullptr);
  if (len <= 0) throw LastError();
  std::string out(static_cast<std::size_t>(len), '\0');
  WideCharToMultiByte(cp, 0, in.data(), n, out.data(), len, nullptr, nullptr);
  return out;
}

// Decodes one character at a time, so that each byte sequence the code page
// rejects becomes one U+FFFD instead of whatever the system substitutes.
std::wstring AnsiToWideStrict(const std::string& ansi) {
  std::wstring out;
  std::size_t i = 0;
  while (i < ansi.size()) {
    const bool lead = IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(ansi[i])) != FALSE;
    const std::size_t len = (lead && i + 1 < ansi.size()) ? 2 : 1;
    wchar_t wc[2];
    const int got = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data() + i,
                                        static_cast<int>(len), wc, 2);
    if (got > 0) {
      out.append(wc, static_cast<std::size_t>(got));
    } else {
      out.push_back(L'\xFFFD');
    }
    i += len;
  }
  return out;
}

}  // namespace

std::wstring Utf8ToWide(const std::string& utf8) { return ToWide(CP_UTF8, 0, utf8); }

std::string WideToUtf8(const std::wstring& wide) { return FromWide(CP_UTF8, wide); }

std::string Utf8ToAnsi(const std::string& utf8) { return FromWide(CP_ACP, Utf8ToWide(utf8)); }

std::wstring AnsiToWide(const std::string& ansi) {
  if (ansi.empty()) return {};
  const int n = CheckedLength(ansi.size());
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), n, nullptr, 0) > 0) {
    return ToWide(CP_ACP, MB_ERR_INVALID_CHARS, ansi);
  }
  return AnsiToWideStrict(ansi);
}

std::string AnsiToUtf8(const std::string& ansi) { return WideToUtf8(AnsiToWide(ansi)); }

bool FitsAnsiCodePage(const std::string& utf8) {
  if (GetACP() == CP_UTF8) return true;  // the default-character test is refused there
  const std::wstring wide = Utf8ToWide(utf8);
  if (wide.empty()) return true;
  // Without WC_NO_BEST_FIT_CHARS Windows would quietly spell "é" as "e" in
  // the Korean code page, and a path would name another file.
  BOOL lossy = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), CheckedLength(wide.size()),
                      nullptr, 0, nullptr, &lossy);
  return lossy == FALSE;
}

std::string ErrorText(unsigned long code) {
  wchar_t* buf = nullptr;
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  const DWORD len =
      FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::wstring text;
  if (len > 0 && buf != nullptr) text.assign(buf, len);
  if (buf != nullptr) LocalFree(buf);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
    text.pop_back();
  }
  if (text.empty()) return "Windows error " + std::to_string(code);
  return WideToUtf8(text);
}

Error WindowsError(unsigned long code) { return Error(static_cast<long>(code), ErrorText(code)); }

Error LastError() { return WindowsError(GetLastError()); }

Error LastError(const std::string& what) {
  const DWORD code = GetLastError();
  const std::string reason = code != 0 ? ErrorText(code) : "the system gave no reason";
  return Error(static_cast<long>(code), "cannot " + what + ": " + reason);
}

}  // namespace mb::win32
