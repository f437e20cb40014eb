// A throwaway ECDSA P-256 key for the tests of signed releases (OpenSSL):
// signs manifests in-process the way `mailbeacon-server sign` does, and
// writes itself as PEM for the real signer.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

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
  // `signed_at` (and expiring at `expires`), as sign writes it.
  std::string Sign(const std::string& body, const std::string& component,
                   const std::string& signed_at,
                   const std::optional<std::string>& expires = std::nullopt) const;

 private:
  struct Key;
  std::unique_ptr<Key> key_;
};

}  // namespace mb::test
