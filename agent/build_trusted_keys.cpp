#include "agent/build_trusted_keys.h"

// Set on this file alone by the build, so only it is compiled again when
// the keys or the root change. The root comes as hexadecimal (the form
// CMake reads a file in), so no byte of it needs quoting.
#ifndef MB_BUILD_TRUSTED_KEYS
#define MB_BUILD_TRUSTED_KEYS ""
#endif
#ifndef MB_BUILD_TRUSTED_ROOT
#define MB_BUILD_TRUSTED_ROOT ""
#endif

namespace mb {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string BuildTrustedKeys() { return MB_BUILD_TRUSTED_KEYS; }

std::string BuildTrustedRoot() {
  const std::string hex = MB_BUILD_TRUSTED_ROOT;
  std::string text;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    const int high = HexDigit(hex[i]);
    const int low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return "";
    text += static_cast<char>(high * 16 + low);
  }
  return text;
}

}  // namespace mb
