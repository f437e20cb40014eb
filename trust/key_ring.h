// The public keys an agent trusts. Each is the DER SubjectPublicKeyInfo of
// a P-256 key; its id is the first 8 bytes of the SHA-256 of that DER, in
// hexadecimal, which a signed manifest names in KEY_ID.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/signature.h"

namespace mb::trust {

struct TrustedKey {
  std::string der;
  std::string id;
};

std::string KeyId(std::string_view der, platform::Crypto& crypto);

class KeyRing {
 public:
  // Adds the keys of a text: base64 of the DER, separated by spaces,
  // commas, semicolons or line breaks (as `openssl ec -pubout -outform DER
  // | base64 -w0` prints one). An entry that is no P-256 key is noted in
  // Problems, naming `origin`, and trusts nothing. Returns how many entries
  // the text held, usable or not.
  std::size_t AddText(std::string_view text, std::string_view origin, platform::Crypto& crypto);
  // A key read elsewhere (a root of trust's release keys).
  void Add(const TrustedKey& key);
  // A key list that was given but cannot be read: it trusts nothing, and
  // still requires signatures.
  void AddUnusable(std::string problem);

  // True once any entry was given, usable or not: signatures are then
  // required, so a key list that went wrong never turns the check off.
  bool Active() const { return entries_ > 0; }
  const TrustedKey* Find(std::string_view id) const;
  const std::vector<TrustedKey>& Keys() const { return keys_; }
  const std::vector<std::string>& Problems() const { return problems_; }

 private:
  std::vector<TrustedKey> keys_;
  std::vector<std::string> problems_;
  std::size_t entries_ = 0;
};

}  // namespace mb::trust
