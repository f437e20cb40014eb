// SHA-256 and ECDSA P-256 checks through OpenSSL's libcrypto (EVP).
#pragma once

#include "platform/signature.h"

namespace mb::posix {

class OpenSslCrypto : public platform::Crypto {
 public:
  std::unique_ptr<platform::Sha256> NewSha256() override;
  std::unique_ptr<platform::SignatureVerifier> NewVerifier() override;
};

// The DER ECDSA-Sig-Value OpenSSL takes, made from r||s; empty for a
// signature that is not 64 bytes. Also used by the signer (server/), the
// other way round.
std::string DerFromRawSignature(std::string_view raw);
// r||s from OpenSSL's DER form; empty when it is not a P-256 signature.
std::string RawFromDerSignature(std::string_view der);

}  // namespace mb::posix
