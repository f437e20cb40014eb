#include "trust/key_ring.h"

#include "trust/encoding.h"

namespace mb::trust {
namespace {

constexpr std::string_view kSeparators = " ,;\t\r\n";
constexpr std::size_t kKeyIdBytes = 8;

}  // namespace

std::string KeyId(std::string_view der, platform::Crypto& crypto) {
  std::unique_ptr<platform::Sha256> sha = crypto.NewSha256();
  sha->Update(der.data(), der.size());
  const platform::Sha256Digest digest = sha->Finish();
  return LowerHex(std::string_view(reinterpret_cast<const char*>(digest.data()), kKeyIdBytes));
}

std::size_t KeyRing::AddText(std::string_view text, std::string_view origin,
                             platform::Crypto& crypto) {
  const std::size_t before = entries_;
  std::size_t at = text.find_first_not_of(kSeparators);
  while (at != std::string_view::npos) {
    const std::size_t end = std::min(text.find_first_of(kSeparators, at), text.size());
    const std::string_view entry = text.substr(at, end - at);
    ++entries_;
    std::optional<std::string> der = Base64Decode(entry);
    if (der && platform::P256PublicPoint(*der)) {
      std::string id = KeyId(*der, crypto);
      if (!Find(id)) keys_.push_back({std::move(*der), std::move(id)});
    } else {
      problems_.push_back(std::string(origin) + ": entry " + std::to_string(entries_) +
                          " is not the base64 DER of a P-256 public key");
    }
    at = text.find_first_not_of(kSeparators, end);
  }
  return entries_ - before;
}

void KeyRing::Add(const TrustedKey& key) {
  ++entries_;
  if (!Find(key.id)) keys_.push_back(key);
}

void KeyRing::AddUnusable(std::string problem) {
  ++entries_;
  problems_.push_back(std::move(problem));
}

const TrustedKey* KeyRing::Find(std::string_view id) const {
  for (const TrustedKey& k : keys_)
    if (k.id == id) return &k;
  return nullptr;
}

}  // namespace mb::trust
