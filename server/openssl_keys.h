// The keys of the vendor's offline machine, through OpenSSL: PEM public
// keys of ECDSA P-256 read, a key's public half as DER, and signatures made
// in the r||s form agents check (platform/signature.h).
#pragma once

#include <openssl/evp.h>

#include <string>

namespace mb::server {

// Private keys are read by server/signing_key.h (LoadSigningKey), an
// encrypted one with its passphrase.
// The DER SubjectPublicKeyInfo of a PEM public key ("BEGIN PUBLIC KEY") of
// P-256. Throws for a private key, another curve or anything else.
std::string LoadP256PublicDer(const std::string& path);
// The DER SubjectPublicKeyInfo of a key's public half.
std::string PublicDerOf(EVP_PKEY* key);
// ECDSA over SHA-256, r||s.
std::string SignRaw(EVP_PKEY* key, const std::string& message);

}  // namespace mb::server
