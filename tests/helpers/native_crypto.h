// The build's own cryptography (OpenSSL on POSIX, CNG on Windows), so one
// test of signed releases runs against both backends.
#pragma once

#include "platform/signature.h"

namespace mb::test {

platform::Crypto& NativeCrypto();

}  // namespace mb::test
