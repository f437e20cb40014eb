#include "agent/build_trusted_keys.h"

// Set on this file alone by the build, so only it is compiled again when
// the keys change.
#ifndef MB_BUILD_TRUSTED_KEYS
#define MB_BUILD_TRUSTED_KEYS ""
#endif

namespace mb {

std::string BuildTrustedKeys() { return MB_BUILD_TRUSTED_KEYS; }

}  // namespace mb
