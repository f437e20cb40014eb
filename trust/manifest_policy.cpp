#include "trust/manifest_policy.h"

#include <algorithm>

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

// The names NOT_FOR lists ("outlook/2000,outlook/2003"): the add-in's
// versions that have a folder of their own, so the generic one is not theirs.
std::vector<std::string_view> NotFor(const std::string& list) {
  std::vector<std::string_view> names;
  std::string_view rest = list;
  while (!rest.empty()) {
    const std::size_t comma = std::min(rest.find(','), rest.size());
    if (comma > 0) names.push_back(rest.substr(0, comma));
    rest.remove_prefix(std::min(comma + 1, rest.size()));
  }
  return names;
}

std::optional<Verdict> CheckComponent(const Envelope& e, const Expectation& expect) {
  const std::string component = e.Field(kComponentField).value_or("");
  bool fits = false;
  for (const std::string& c : expect.components) fits = fits || SameIgnoringCase(c, component);
  if (!fits) return Invalid("signed for another component (" + component + ")");
  const std::string not_for = e.Field(kNotForField).value_or("");
  for (std::string_view excluded : NotFor(not_for)) {
    for (const std::string& c : expect.components) {
      if (SameIgnoringCase(c, excluded))
        return Invalid("signed for the versions without a folder of their own, and " + c +
                       " has one");
    }
  }
  return std::nullopt;
}

// Not signed strictly later than the newest accepted: the same release,
// the installed one, or a step back.
Verdict NotLater(std::int64_t signed_at, std::int64_t floor, const Expectation& expect) {
  const AcceptedRelease& accepted = *expect.accepted;
  if (accepted.release && *accepted.release == expect.release)
    return {Refusal::kNone, "", signed_at, Standing::kSameRelease};
  if (expect.release == expect.installed)
    return {Refusal::kNone, "", signed_at, Standing::kInstalled};
  // A record that kept no release: an equal time was taken before, and is
  // taken once more, its release now kept.
  if (!accepted.release && signed_at == floor) return {Refusal::kNone, "", signed_at};
  if (signed_at < floor) {
    return Refused(Refusal::kOlderThanAccepted, "older than the release already accepted (signed " +
                                                    FormatUtcTime(signed_at) + ", accepted " +
                                                    FormatUtcTime(floor) + ")");
  }
  return Refused(Refusal::kOlderThanAccepted,
                 "release " + expect.release + " is not signed later than release " +
                     accepted.release.value_or("") + ", accepted before (both signed " +
                     FormatUtcTime(floor) + ")");
}

// The fields, read only once the signature holds: they are the signer's.
Verdict JudgeFields(const Envelope& e, const Expectation& expect) {
  if (std::optional<Verdict> wrong = CheckComponent(e, expect)) return *wrong;
  const std::optional<std::int64_t> signed_at = ParseUtcTime(e.Field(kSignedField).value_or(""));
  if (!signed_at) return Invalid("no signing time");
  if (const std::optional<std::string> expires = e.Field(kExpiresField)) {
    const std::optional<std::int64_t> until = ParseUtcTime(*expires);
    if (!until) return Invalid("EXPIRES is not a time");
    if (expect.now >= *until) return Refused(Refusal::kExpired, "expired on " + *expires);
  }
  if (!expect.accepted) return {Refusal::kNone, "", *signed_at};
  // A floor from a clock far ahead holds back for a day at most.
  const std::int64_t floor = KeptFloor(expect.accepted->signed_at, expect.now);
  if (*signed_at > floor) return {Refusal::kNone, "", *signed_at};
  return NotLater(*signed_at, floor, expect);
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

std::int64_t KeptFloor(std::int64_t signed_at, std::int64_t now) {
  return std::min(signed_at, now + kClockAllowanceSeconds);
}

}  // namespace mb::trust
