#include "platform/win32/win32_codepage.h"

#include "platform/win32/win32_windows.h"

#include "platform/win32/win32_text.h"

namespace mb::win32 {

int Win32CodePage::Number() const { return static_cast<int>(GetACP()); }

std::string Win32CodePage::ToAnsi(const std::string& utf8) const { return Utf8ToAnsi(utf8); }

std::string Win32CodePage::FromAnsi(const std::string& ansi) const { return AnsiToUtf8(ansi); }

}  // namespace mb::win32
