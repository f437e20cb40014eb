#include "platform/posix/posix_signature.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

namespace mb::posix {
namespace {

template <auto Free>
struct Deleter {
  template <class T>
  void operator()(T* p) const {
    Free(p);
  }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG_free>>;
using BigNum = std::unique_ptr<BIGNUM, Deleter<BN_free>>;

constexpr int kHalf = static_cast<int>(platform::kP256SignatureBytes / 2);

const unsigned char* Bytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

class OpenSslSha256 : public platform::Sha256 {
 public:
  OpenSslSha256() : ctx_(EVP_MD_CTX_new()) {
    ok_ = ctx_ && EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) == 1;
  }
  void Update(const void* data, std::size_t size) override {
    ok_ = ok_ && EVP_DigestUpdate(ctx_.get(), data, size) == 1;
  }
  // A digest OpenSSL could not make is all zero: it matches no real file.
  platform::Sha256Digest Finish() override {
    platform::Sha256Digest digest{};
    unsigned int size = 0;
    if (!ok_ || EVP_DigestFinal_ex(ctx_.get(), digest.data(), &size) != 1 || size != digest.size())
      digest.fill(0);
    ok_ = false;
    return digest;
  }

 private:
  MdContext ctx_;
  bool ok_ = false;
};

class OpenSslVerifier : public platform::SignatureVerifier {
 public:
  std::string Init(std::string_view spki_der, std::string_view signature) override {
    if (!platform::P256PublicPoint(spki_der)) return "not a P-256 public key";
    if (signature.size() != platform::kP256SignatureBytes) return "the signature is not 64 bytes";
    const unsigned char* p = Bytes(spki_der);
    Key key(d2i_PUBKEY(nullptr, &p, static_cast<long>(spki_der.size())));
    if (!key) return "OpenSSL cannot read the key";
    der_signature_ = DerFromRawSignature(signature);
    ctx_.reset(EVP_MD_CTX_new());
    if (!ctx_ || der_signature_.empty() ||
        EVP_DigestVerifyInit(ctx_.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
      ctx_.reset();
      return "OpenSSL cannot check with the key";
    }
    return {};
  }
  void Update(const void* data, std::size_t size) override {
    if (ctx_ && EVP_DigestVerifyUpdate(ctx_.get(), data, size) != 1) ctx_.reset();
  }
  bool Final() override {
    const bool ok = ctx_ && EVP_DigestVerifyFinal(ctx_.get(), Bytes(der_signature_),
                                                  der_signature_.size()) == 1;
    ctx_.reset();
    return ok;
  }

 private:
  MdContext ctx_;
  std::string der_signature_;
};

}  // namespace

std::unique_ptr<platform::Sha256> OpenSslCrypto::NewSha256() {
  return std::make_unique<OpenSslSha256>();
}

std::unique_ptr<platform::SignatureVerifier> OpenSslCrypto::NewVerifier() {
  return std::make_unique<OpenSslVerifier>();
}

std::string DerFromRawSignature(std::string_view raw) {
  if (raw.size() != platform::kP256SignatureBytes) return {};
  BigNum r(BN_bin2bn(Bytes(raw), kHalf, nullptr));
  BigNum s(BN_bin2bn(Bytes(raw) + kHalf, kHalf, nullptr));
  EcdsaSig sig(ECDSA_SIG_new());
  if (!r || !s || !sig || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) return {};
  static_cast<void>(r.release());  // owned by sig now
  static_cast<void>(s.release());
  unsigned char* der = nullptr;
  const int size = i2d_ECDSA_SIG(sig.get(), &der);
  if (size <= 0) return {};
  std::string out(reinterpret_cast<const char*>(der), static_cast<std::size_t>(size));
  OPENSSL_free(der);
  return out;
}

std::string RawFromDerSignature(std::string_view der) {
  const unsigned char* p = Bytes(der);
  EcdsaSig sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size())));
  if (!sig || p != Bytes(der) + der.size()) return {};
  std::string raw(platform::kP256SignatureBytes, '\0');
  auto* out = reinterpret_cast<unsigned char*>(raw.data());
  if (BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), out, kHalf) != kHalf ||
      BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), out + kHalf, kHalf) != kHalf)
    return {};
  return raw;
}

}  // namespace mb::posix
