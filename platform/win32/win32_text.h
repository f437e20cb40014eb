// Text conversions at the Win32 boundary and the one error-mapping function
// of the backend. The agent keeps text as UTF-8; the W functions take
// UTF-16 and the A functions the system ANSI code page.
#pragma once

#include <string>

#include "support/error.h"

namespace mb::win32 {

std::wstring Utf8ToWide(const std::string& utf8);
std::string WideToUtf8(const std::wstring& wide);

// Through the ANSI code page (CP_ACP). Characters the code page lacks
// become '?'; bytes that are not valid in it become U+FFFD.
std::string Utf8ToAnsi(const std::string& utf8);
std::string AnsiToUtf8(const std::string& ansi);
std::wstring AnsiToWide(const std::string& ansi);
// True when every character of the text has a byte sequence in the ANSI
// code page, so an A function sees the same text as the W one.
bool FitsAnsiCodePage(const std::string& utf8);

// The system's description of a Windows error code, in UTF-8, without the
// trailing line break FormatMessage adds.
std::string ErrorText(unsigned long code);

// mb::Error for a Windows error code, with its description.
Error WindowsError(unsigned long code);
// mb::Error for GetLastError() of the call that just failed.
Error LastError();
// The same for a call that failed at `what` ("create the progress window"),
// said in the description. Window functions do not always set an error code
// (Wine leaves 0 when the display cannot hold the window), and the text of 0
// would describe the failure as a success.
Error LastError(const std::string& what);

}  // namespace mb::win32
