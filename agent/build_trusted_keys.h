// The public keys compiled into the agent (-DMB_TRUSTED_KEYS=PEM files,
// cmake/trusted_keys.cmake): the base64 DER of each, separated by spaces;
// empty for a build without keys.
#pragma once

#include <string>

namespace mb {

std::string BuildTrustedKeys();

}  // namespace mb
