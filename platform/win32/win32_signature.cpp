#include "platform/win32/win32_signature.h"

// clang-format off
#include "platform/win32/win32_windows.h"
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace mb::win32 {
namespace {

// mingw-w64's headers lack NT_SUCCESS (ntdef.h, a driver header), and
// <ntstatus.h>, which names the status codes, clashes with <windows.h>.
bool Succeeded(NTSTATUS status) { return status >= 0; }

constexpr ULONG kHalf = static_cast<ULONG>(platform::kP256SignatureBytes / 2);

class Algorithm {
 public:
  explicit Algorithm(LPCWSTR name) {
    if (!Succeeded(BCryptOpenAlgorithmProvider(&h_, name, nullptr, 0))) h_ = nullptr;
  }
  ~Algorithm() {
    if (h_ != nullptr) BCryptCloseAlgorithmProvider(h_, 0);
  }
  Algorithm(const Algorithm&) = delete;
  Algorithm& operator=(const Algorithm&) = delete;
  BCRYPT_ALG_HANDLE Get() const { return h_; }

 private:
  BCRYPT_ALG_HANDLE h_ = nullptr;
};

// One running SHA-256 over CNG; a hash the OS could not make is all zero.
class CngSha256 : public platform::Sha256 {
 public:
  CngSha256() : alg_(BCRYPT_SHA256_ALGORITHM) {
    if (alg_.Get() == nullptr ||
        !Succeeded(BCryptCreateHash(alg_.Get(), &hash_, nullptr, 0, nullptr, 0, 0)))
      hash_ = nullptr;
  }
  ~CngSha256() override {
    if (hash_ != nullptr) BCryptDestroyHash(hash_);
  }
  CngSha256(const CngSha256&) = delete;
  CngSha256& operator=(const CngSha256&) = delete;

  void Update(const void* data, std::size_t size) override {
    auto* p = static_cast<PUCHAR>(const_cast<void*>(data));
    while (hash_ != nullptr && size > 0) {
      const ULONG n = static_cast<ULONG>(std::min<std::size_t>(size, 1u << 30));
      if (!Succeeded(BCryptHashData(hash_, p, n, 0))) Drop();
      p += n;
      size -= n;
    }
  }
  platform::Sha256Digest Finish() override {
    platform::Sha256Digest digest{};
    if (hash_ == nullptr ||
        !Succeeded(BCryptFinishHash(hash_, digest.data(), static_cast<ULONG>(digest.size()), 0)))
      digest.fill(0);
    Drop();
    return digest;
  }

 private:
  void Drop() {
    if (hash_ != nullptr) BCryptDestroyHash(hash_);
    hash_ = nullptr;
  }
  Algorithm alg_;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
};

class CngVerifier : public platform::SignatureVerifier {
 public:
  CngVerifier() : alg_(BCRYPT_ECDSA_P256_ALGORITHM) {}
  ~CngVerifier() override {
    if (key_ != nullptr) BCryptDestroyKey(key_);
  }
  CngVerifier(const CngVerifier&) = delete;
  CngVerifier& operator=(const CngVerifier&) = delete;

  std::string Init(std::string_view spki_der, std::string_view signature) override {
    const std::optional<std::string_view> point = platform::P256PublicPoint(spki_der);
    if (!point) return "not a P-256 public key";
    if (signature.size() != platform::kP256SignatureBytes) return "the signature is not 64 bytes";
    if (alg_.Get() == nullptr) return "CNG has no ECDSA P-256";
    // BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y (the point without 0x04).
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kHalf);
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kHalf};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, point->data() + 1, 2 * kHalf);
    if (!Succeeded(BCryptImportKeyPair(alg_.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &key_,
                                       blob.data(), static_cast<ULONG>(blob.size()), 0))) {
      key_ = nullptr;
      return "CNG refused the key";
    }
    signature_.assign(signature);
    return {};
  }
  void Update(const void* data, std::size_t size) override { hash_.Update(data, size); }
  bool Final() override {
    if (key_ == nullptr) return false;
    platform::Sha256Digest digest = hash_.Finish();
    auto* sig = reinterpret_cast<PUCHAR>(signature_.data());
    return BCryptVerifySignature(key_, nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                 sig, static_cast<ULONG>(signature_.size()), 0) == 0;
  }

 private:
  Algorithm alg_;
  BCRYPT_KEY_HANDLE key_ = nullptr;
  CngSha256 hash_;
  std::string signature_;
};

}  // namespace

std::unique_ptr<platform::Sha256> CngCrypto::NewSha256() { return std::make_unique<CngSha256>(); }

std::unique_ptr<platform::SignatureVerifier> CngCrypto::NewVerifier() {
  return std::make_unique<CngVerifier>();
}

}  // namespace mb::win32
