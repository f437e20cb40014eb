// A throwaway ECDSA P-256 key for the tests of signed releases (OpenSSL):
// signs manifests in-process the way `mailbeacon-server sign` does, and
// writes itself as PEM for the real signer. POSIX only: it signs through
// OpenSSL beside platform/posix/, so a test that uses it is left out of
// the Windows test binary.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "trust/signed_manifest.h"

namespace mb::test {

class TestSigningKey {
 public:
  TestSigningKey();  // a new key
  ~TestSigningKey();
  TestSigningKey(const TestSigningKey&) = delete;
  TestSigningKey& operator=(const TestSigningKey&) = delete;

  // The base64 DER of the public key: what TrustedKeys holds.
  std::string PublicBase64() const;
  std::string KeyId() const;
  void WritePrivatePem(const std::string& path) const;
  void WritePublicPem(const std::string& path) const;
  // PKCS#8, encrypted with AES-256 under passphrase, as `openssl pkcs8
  // -topk8 -v2 aes-256-cbc` writes it.
  void WriteEncryptedPem(const std::string& path, const std::string& passphrase) const;

  // body followed by its signature section, for `component`, signed at
  // `signed_at` (and expiring at `expires`), as sign writes it; `more`
  // fields go before KEY_ID (NOT_FOR).
  std::string Sign(const std::string& body, const std::string& component,
                   const std::string& signed_at,
                   const std::optional<std::string>& expires = std::nullopt,
                   const trust::Fields& more = {}) const;
  // One signature section of a text signed by several keys (a root): KEY_ID
  // and VALUE over body and this head.
  std::string SignSection(const std::string& body) const;
  std::string PublicDer() const;

 private:
  struct Key;
  std::unique_ptr<Key> key_;
};

// A root of trust as sign-root writes it: version, expiry (UTC), threshold,
// root and release keys, signed by each of `signers`.
std::string MakeRoot(int version, const std::string& expires, int threshold,
                     const std::vector<const TestSigningKey*>& root_keys,
                     const std::vector<const TestSigningKey*>& release_keys,
                     const std::vector<const TestSigningKey*>& signers);

}  // namespace mb::test
