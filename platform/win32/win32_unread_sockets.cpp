#include "platform/win32/win32_unread_sockets.h"

// clang-format off
#include <winsock2.h>
#include "platform/win32/win32_windows.h"
// clang-format on

namespace mb::win32 {
namespace {

// Handles are multiples of four from four on; a process of the agent's size
// holds a few hundred. Anything that is no socket answers WSAENOTSOCK.
constexpr UINT_PTR kHandleScanEnd = 0x10000;

bool WinsockReady() {
  static const bool ready = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;  // kept for the process's life
  }();
  return ready;
}

}  // namespace

void ShutDownUnreadSockets() {
  if (!WinsockReady()) return;
  for (UINT_PTR handle = 4; handle < kHandleScanEnd; handle += 4) {
    const auto s = static_cast<SOCKET>(handle);
    u_long unread = 0;
    if (ioctlsocket(s, FIONREAD, &unread) != 0 || unread == 0) continue;
    sockaddr_storage peer{};
    int size = sizeof peer;
    if (getpeername(s, reinterpret_cast<sockaddr*>(&peer), &size) != 0) continue;
    shutdown(s, SD_BOTH);
  }
}

}  // namespace mb::win32
