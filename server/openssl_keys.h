// The keys of the vendor's offline machine, through OpenSSL: PEM files of
// ECDSA P-256 keys read, their public half as DER, and signatures made in
// the r||s form agents check (platform/signature.h).
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <string>

namespace mb::server {

struct PrivateKeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using OwnedKey = std::unique_ptr<EVP_PKEY, PrivateKeyFree>;

// A P-256 private key in PEM (SEC1 or PKCS#8); never one that asks for a
// passphrase on the terminal. Throws std::runtime_error saying why not.
OwnedKey LoadP256PrivateKey(const std::string& path);
// The DER SubjectPublicKeyInfo of a PEM public key ("BEGIN PUBLIC KEY") of
// P-256. Throws for a private key, another curve or anything else.
std::string LoadP256PublicDer(const std::string& path);
// The DER SubjectPublicKeyInfo of a key's public half.
std::string PublicDerOf(EVP_PKEY* key);
// ECDSA over SHA-256, r||s.
std::string SignRaw(EVP_PKEY* key, const std::string& message);

}  // namespace mb::server
