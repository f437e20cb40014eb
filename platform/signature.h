// SHA-256 and the check of ECDSA P-256 signatures, from the OS's own
// cryptography (OpenSSL's libcrypto on POSIX, CNG on Windows): what signed
// releases need and no more. Keys are DER SubjectPublicKeyInfo, as
// `openssl ec -pubout -outform DER` writes them; signatures are r||s, 32
// bytes each, big-endian (the form CNG takes; OpenSSL's DER form is made
// from it by the POSIX backend).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace mb::platform {

using Sha256Digest = std::array<std::uint8_t, 32>;
inline constexpr std::size_t kP256SignatureBytes = 64;

// A streaming SHA-256: any number of Update calls, then Finish once.
class Sha256 {
 public:
  virtual ~Sha256() = default;
  virtual void Update(const void* data, std::size_t size) = 0;
  virtual Sha256Digest Finish() = 0;
};

// Checks one signature over a message that arrives in pieces:
// Init with the key and the signature, Update with the message, then Final.
class SignatureVerifier {
 public:
  virtual ~SignatureVerifier() = default;
  // Empty when the key and the signature can be used; else why not (the
  // key is no P-256 key, the signature has the wrong length, the OS
  // refused). After a refusal Final is false.
  virtual std::string Init(std::string_view spki_der, std::string_view signature) = 0;
  virtual void Update(const void* data, std::size_t size) = 0;
  // True only when the signature was made by the key over exactly the bytes
  // given to Update.
  virtual bool Final() = 0;
};

class Crypto {
 public:
  virtual ~Crypto() = default;
  virtual std::unique_ptr<Sha256> NewSha256() = 0;
  virtual std::unique_ptr<SignatureVerifier> NewVerifier() = 0;
};

// The public point (0x04 || X || Y, 65 bytes) of a P-256 key given as DER
// SubjectPublicKeyInfo, or nothing for any other key or encoding. Only the
// one form every tool writes for a P-256 key is taken: id-ecPublicKey,
// prime256v1, an uncompressed point. Both backends read keys through it,
// so they accept exactly the same keys.
inline std::optional<std::string_view> P256PublicPoint(std::string_view spki_der) {
  static constexpr unsigned char kPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                              0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                              0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
  constexpr std::size_t kPointBytes = 65;
  constexpr std::size_t kPrefixBytes = sizeof kPrefix - 1;  // the point starts at its 0x04
  if (spki_der.size() != kPrefixBytes + kPointBytes) return std::nullopt;
  for (std::size_t i = 0; i < sizeof kPrefix; ++i) {
    if (static_cast<unsigned char>(spki_der[i]) != kPrefix[i]) return std::nullopt;
  }
  return spki_der.substr(kPrefixBytes);
}

}  // namespace mb::platform
