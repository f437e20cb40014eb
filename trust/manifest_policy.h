// Whether an agent with trusted keys may act on a manifest: signed by one
// of its keys over exactly the bytes it holds, for the component it asked
// for, not expired, and not signed earlier than the newest manifest of
// that component it accepted before (so an older release cannot be served
// again). The verdict carries its reason, in words for the update log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/signature.h"
#include "trust/key_ring.h"

namespace mb::trust {

enum class Refusal {
  kNone,
  kNoSignature,
  kInvalid,
  kUnknownKey,
  kExpired,
  kOlderThanAccepted,
};

struct Verdict {
  Refusal refusal = Refusal::kNone;
  std::string reason;          // empty when accepted
  std::int64_t signed_at = 0;  // when accepted: its signing time
  bool Accepted() const { return refusal == Refusal::kNone; }
};

struct Expectation {
  // COMPONENT values that fit, compared without regard to ASCII case
  // ("outlook" and "outlook/2003" for the add-in of Outlook 2003).
  std::vector<std::string> components;
  std::int64_t now = 0;                  // seconds since 1970, UTC
  std::optional<std::int64_t> accepted;  // signing time of the newest accepted
};

Verdict JudgeManifest(std::string_view manifest, const KeyRing& keys, const Expectation& expect,
                      platform::Crypto& crypto);

}  // namespace mb::trust
