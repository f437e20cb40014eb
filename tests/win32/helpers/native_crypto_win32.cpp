#include "helpers/native_crypto.h"
#include "platform/win32/win32_signature.h"

namespace mb::test {

platform::Crypto& NativeCrypto() {
  static win32::CngCrypto crypto;
  return crypto;
}

}  // namespace mb::test
