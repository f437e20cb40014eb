#include "helpers/test_signer.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <stdexcept>

#include "helpers/native_crypto.h"
#include "platform/posix/posix_signature.h"
#include "trust/encoding.h"
#include "trust/key_ring.h"
#include "trust/root.h"
#include "trust/signed_manifest.h"
#include "trust/timestamp.h"

namespace mb::test {

struct TestSigningKey::Key {
  EVP_PKEY* pkey = nullptr;
  ~Key() { EVP_PKEY_free(pkey); }
};

TestSigningKey::TestSigningKey() : key_(std::make_unique<Key>()) {
  key_->pkey = EVP_EC_gen("P-256");
  if (key_->pkey == nullptr) throw std::runtime_error("OpenSSL made no key");
}

TestSigningKey::~TestSigningKey() = default;

std::string TestSigningKey::PublicBase64() const {
  unsigned char* der = nullptr;
  const int size = i2d_PUBKEY(key_->pkey, &der);
  std::string out(reinterpret_cast<const char*>(der), static_cast<std::size_t>(size));
  OPENSSL_free(der);
  return trust::Base64Encode(out);
}

std::string TestSigningKey::KeyId() const {
  return trust::KeyId(*trust::Base64Decode(PublicBase64()), NativeCrypto());
}

namespace {
void WritePem(const std::string& path, EVP_PKEY* pkey, bool with_private) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) throw std::runtime_error("cannot write " + path);
  const int ok = with_private ? PEM_write_PrivateKey(f, pkey, nullptr, nullptr, 0, nullptr, nullptr)
                              : PEM_write_PUBKEY(f, pkey);
  std::fclose(f);
  if (ok != 1) throw std::runtime_error("cannot write " + path);
}
}  // namespace

void TestSigningKey::WritePrivatePem(const std::string& path) const {
  WritePem(path, key_->pkey, true);
}

void TestSigningKey::WritePublicPem(const std::string& path) const {
  WritePem(path, key_->pkey, false);
}

void TestSigningKey::WriteEncryptedPem(const std::string& path,
                                       const std::string& passphrase) const {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) throw std::runtime_error("cannot write " + path);
  const int ok = PEM_write_PKCS8PrivateKey(f, key_->pkey, EVP_aes_256_cbc(), passphrase.data(),
                                           static_cast<int>(passphrase.size()), nullptr, nullptr);
  std::fclose(f);
  if (ok != 1) throw std::runtime_error("cannot write " + path);
}

namespace {

std::string RawSignature(EVP_PKEY* pkey, const std::string& message) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  std::size_t size = 0;
  std::string der;
  auto data = reinterpret_cast<const unsigned char*>(message.data());
  if (EVP_DigestSignInit(ctx, nullptr, EVP_sha256(), nullptr, pkey) == 1 &&
      EVP_DigestSign(ctx, nullptr, &size, data, message.size()) == 1) {
    der.resize(size);
    if (EVP_DigestSign(ctx, reinterpret_cast<unsigned char*>(der.data()), &size, data,
                       message.size()) != 1)
      size = 0;
    der.resize(size);
  }
  EVP_MD_CTX_free(ctx);
  return posix::RawFromDerSignature(der);
}

}  // namespace

std::string TestSigningKey::Sign(const std::string& body, const std::string& component,
                                 const std::string& signed_at,
                                 const std::optional<std::string>& expires,
                                 const trust::Fields& more) const {
  trust::Fields fields = {{trust::kComponentField, component}, {trust::kSignedField, signed_at}};
  if (expires) fields.emplace_back(trust::kExpiresField, *expires);
  fields.insert(fields.end(), more.begin(), more.end());
  fields.emplace_back(trust::kKeyIdField, KeyId());
  const std::string message = body + trust::EnvelopeHead(fields);
  return message + trust::EnvelopeValueLine(RawSignature(key_->pkey, message));
}

std::string TestSigningKey::SignSection(const std::string& body) const {
  const std::string head = trust::EnvelopeHead({{trust::kKeyIdField, KeyId()}});
  return head + trust::EnvelopeValueLine(RawSignature(key_->pkey, body + head));
}

std::string TestSigningKey::PublicDer() const { return *trust::Base64Decode(PublicBase64()); }

std::string MakeRoot(int version, const std::string& expires, int threshold,
                     const std::vector<const TestSigningKey*>& root_keys,
                     const std::vector<const TestSigningKey*>& release_keys,
                     const std::vector<const TestSigningKey*>& signers) {
  auto ders = [](const std::vector<const TestSigningKey*>& keys) {
    std::vector<std::string> out;
    for (const TestSigningKey* k : keys) out.push_back(k->PublicDer());
    return out;
  };
  const std::string body = trust::RootBody(version, *trust::ParseUtcTime(expires), threshold,
                                           ders(root_keys), ders(release_keys));
  std::string text = body;
  for (const TestSigningKey* k : signers) text += k->SignSection(body);
  return text;
}

}  // namespace mb::test
