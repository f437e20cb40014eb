// What the agent is built to trust: the public keys compiled in
// (-DMB_TRUSTED_KEYS=PEM files, cmake/trusted_keys.cmake), the base64 DER
// of each separated by spaces, and the root of trust it is pinned to
// (-DMB_TRUSTED_ROOT=root.1.ini, cmake/trusted_root.cmake), its text; each
// empty for a build without.
#pragma once

#include <string>

namespace mb {

std::string BuildTrustedKeys();
std::string BuildTrustedRoot();

}  // namespace mb
