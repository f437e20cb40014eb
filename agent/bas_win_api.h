// Free functions over the OS services (the agent's module of Windows
// services).
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace mb {
class frmSplash;
}

namespace mb::basWinAPI {

// True when the system reports an internet connection.
bool IsOnline(platform::Platform& p);

// Fetches url into local_path; true when the transfer succeeded and an
// ordinary file now exists there. Pending messages are processed while the
// transfer runs (through the options' observer, or here when it has none)
// and once after a successful transfer.
bool DownloadFile(platform::Platform& p, const std::string& url,
                  const std::string& local_path,
                  const platform::DownloadOptions& options = {});

// The Windows system directory, empty when the call fails.
std::string GetSystemDir(platform::Platform& p);

// Sum of the ANSI codes of the key text "OldMap".
double KeySum();

// The numeric name encoding of download URLs: each character's ANSI code
// (a double-byte character as one signed 16-bit number, first byte high)
// plus KeySum, each number followed by the separator ("*" when empty).
std::string EncodeName(const platform::CodePage& cp, const std::string& text,
                       const std::string& separator);

// Placement of a window just inside the taskbar's notification corner.
void GetTaskbarRect(platform::WindowSystem& ws, std::int32_t& top,
                    std::int32_t& left, std::int32_t& bottom,
                    std::int32_t& right);
void PlaceAboveTaskbar(platform::WindowSystem& ws, frmSplash& window);

}  // namespace mb::basWinAPI
