#include "trust/manifest_policy.h"

#include "trust/signed_manifest.h"
#include "trust/timestamp.h"

namespace mb::trust {
namespace {

Verdict Refused(Refusal refusal, std::string reason) { return {refusal, std::move(reason), 0}; }

Verdict Invalid(const std::string& why) {
  return Refused(Refusal::kInvalid, "invalid signature: " + why);
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

bool SignatureHolds(const Envelope& e, const TrustedKey& key, platform::Crypto& crypto) {
  std::unique_ptr<platform::SignatureVerifier> verifier = crypto.NewVerifier();
  if (!verifier->Init(key.der, e.signature).empty()) return false;
  verifier->Update(e.message.data(), e.message.size());
  return verifier->Final();
}

// The fields, read only once the signature holds: they are the signer's.
Verdict JudgeFields(const Envelope& e, const Expectation& expect) {
  const std::string component = e.Field(kComponentField).value_or("");
  bool fits = false;
  for (const std::string& c : expect.components) fits = fits || SameIgnoringCase(c, component);
  if (!fits) return Invalid("signed for another component (" + component + ")");
  const std::optional<std::int64_t> signed_at = ParseUtcTime(e.Field(kSignedField).value_or(""));
  if (!signed_at) return Invalid("no signing time");
  if (const std::optional<std::string> expires = e.Field(kExpiresField)) {
    const std::optional<std::int64_t> until = ParseUtcTime(*expires);
    if (!until) return Invalid("EXPIRES is not a time");
    if (expect.now >= *until) return Refused(Refusal::kExpired, "expired on " + *expires);
  }
  if (expect.accepted && *signed_at < *expect.accepted) {
    return Refused(Refusal::kOlderThanAccepted, "older than the release already accepted (signed " +
                                                    FormatUtcTime(*signed_at) + ", accepted " +
                                                    FormatUtcTime(*expect.accepted) + ")");
  }
  return {Refusal::kNone, "", *signed_at};
}

}  // namespace

Verdict JudgeManifest(std::string_view manifest, const KeyRing& keys, const Expectation& expect,
                      platform::Crypto& crypto) {
  const EnvelopeRead read = ReadEnvelope(manifest);
  if (read.status == EnvelopeStatus::kUnsigned)
    return Refused(Refusal::kNoSignature, "no signature");
  if (read.status == EnvelopeStatus::kMalformed) return Invalid(read.problem);
  const Envelope& e = read.envelope;
  const std::string id = e.Field(kKeyIdField).value_or("");
  const TrustedKey* key = keys.Find(id);
  if (key == nullptr)
    return Refused(Refusal::kUnknownKey, "unknown key " + (id.empty() ? "(none)" : id));
  if (!SignatureHolds(e, *key, crypto))
    return Invalid("it does not fit the manifest (changed after signing)");
  return JudgeFields(e, expect);
}

}  // namespace mb::trust
