#include "helpers/native_crypto.h"

#include "platform/posix/posix_signature.h"

namespace mb::test {

platform::Crypto& NativeCrypto() {
  static posix::OpenSslCrypto crypto;
  return crypto;
}

}  // namespace mb::test
