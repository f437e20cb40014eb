#include "server/openssl_keys.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <stdexcept>

#include "platform/posix/posix_signature.h"
#include "platform/signature.h"
#include "server/signing_key.h"

namespace mb::server {
namespace {

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

File Open(const std::string& path) {
  File file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) throw std::runtime_error("cannot open the key " + path);
  return file;
}

struct ContextFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

}  // namespace

std::string LoadP256PublicDer(const std::string& path) {
  File file = Open(path);
  PrivateKey key(PEM_read_PUBKEY(file.get(), nullptr, nullptr, nullptr));  // freed alike
  if (!key) throw std::runtime_error(path + " holds no PEM public key");
  std::string der = PublicDerOf(key.get());
  if (!platform::P256PublicPoint(der))
    throw std::runtime_error(path + " is not an ECDSA P-256 public key");
  return der;
}

std::string PublicDerOf(EVP_PKEY* key) {
  unsigned char* der = nullptr;
  const int size = i2d_PUBKEY(key, &der);
  if (size <= 0) throw std::runtime_error("cannot write the public key");
  std::string out(reinterpret_cast<const char*>(der), static_cast<std::size_t>(size));
  OPENSSL_free(der);
  return out;
}

std::string SignRaw(EVP_PKEY* key, const std::string& message) {
  std::unique_ptr<EVP_MD_CTX, ContextFree> ctx(EVP_MD_CTX_new());
  std::size_t size = 0;
  const auto* data = reinterpret_cast<const unsigned char*>(message.data());
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
      EVP_DigestSign(ctx.get(), nullptr, &size, data, message.size()) != 1)
    throw std::runtime_error("OpenSSL cannot sign");
  std::string der(size, '\0');
  if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(der.data()), &size, data,
                     message.size()) != 1)
    throw std::runtime_error("OpenSSL cannot sign");
  der.resize(size);
  return posix::RawFromDerSignature(der);
}

}  // namespace mb::server
