// Whether an agent with trusted keys may act on a manifest: signed by one
// of its keys over exactly the bytes it holds, for the component it asked
// for (and not for one it has a folder of its own for), not expired, and
// not a step back from what it accepted before. The verdict carries its
// reason, in words for the update log.
//
// A step back: a manifest signed strictly later than the newest one
// accepted is taken whatever release it names. One that is not (an equal
// signing time counts as not later) is taken only when it names the release
// the accepted one named, and passes as up to date when it names the
// installed release; any other is refused. So two folders signed in one
// run, or an older release signed before, can never take an agent back.
//
// Clocks: the newest signing time an agent keeps (the floor) is never later
// than its own clock plus a day. A signature dated further ahead (a wrong
// clock on the signing machine, or a key in the wrong hands) is taken for
// that run, but can hold back later releases for a day at most.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/signature.h"
#include "trust/key_ring.h"

namespace mb::trust {

inline constexpr std::int64_t kClockAllowanceSeconds = std::int64_t{24} * 60 * 60;

enum class Refusal {
  kNone,
  kNoSignature,
  kInvalid,
  kUnknownKey,
  kExpired,
  kOlderThanAccepted,
  kRootExpired,  // the root of trust that names the release keys expired
};

// How an accepted manifest stands to what was accepted before.
enum class Standing {
  kNewest,        // it is now the newest accepted: its time and release are kept
  kSameRelease,   // not later, but the release already accepted
  kInstalled,     // not later, but the installed release: up to date
};

struct Verdict {
  Refusal refusal = Refusal::kNone;
  std::string reason;          // empty when accepted
  std::int64_t signed_at = 0;  // when accepted: its signing time
  Standing standing = Standing::kNewest;
  bool Accepted() const { return refusal == Refusal::kNone; }
  // Signed further ahead than the clock allows: kept as KeptFloor says.
  bool FromTheFuture(std::int64_t now) const { return signed_at > now + kClockAllowanceSeconds; }
};

// What an installation accepted last for a component.
struct AcceptedRelease {
  std::int64_t signed_at = 0;
  // Its LAST_VERSION; unknown in the records of agents that kept only the
  // time (they took a manifest signed at the same time as accepted).
  std::optional<std::string> release;
};

struct Expectation {
  // COMPONENT values that fit, compared without regard to ASCII case
  // ("outlook" and "outlook/2003" for the add-in of Outlook 2003). A
  // manifest whose NOT_FOR names one of them is refused.
  std::vector<std::string> components;
  std::int64_t now = 0;                     // seconds since 1970, UTC
  std::optional<AcceptedRelease> accepted;  // the newest accepted before
  std::string release;                      // the manifest's LAST_VERSION, as compared
  std::string installed;                    // the installed release, as compared
};

Verdict JudgeManifest(std::string_view manifest, const KeyRing& keys, const Expectation& expect,
                      platform::Crypto& crypto);

// The floor kept for a manifest signed at `signed_at`: never later than the
// clock plus a day.
std::int64_t KeptFloor(std::int64_t signed_at, std::int64_t now);

}  // namespace mb::trust
