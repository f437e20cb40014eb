// SHA-256 and ECDSA P-256 checks through CNG (bcrypt.dll, part of Windows
// since Vista): no library of our own beside the program.
#pragma once

#include "platform/signature.h"

namespace mb::win32 {

class CngCrypto : public platform::Crypto {
 public:
  std::unique_ptr<platform::Sha256> NewSha256() override;
  std::unique_ptr<platform::SignatureVerifier> NewVerifier() override;
};

}  // namespace mb::win32
