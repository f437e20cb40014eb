// When the signatures of the served releases expire: for the warning the
// server gives ahead of the day (agents with keys refuse an expired
// release), and for mailbeacon_signature_expiry_seconds. Read from the
// manifests as served: the EXPIRES line of their [SIGNATURE] section.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/release_snapshot.h"

namespace mb::server {

struct SignatureExpiry {
  std::string key;           // "ORG/express"
  std::int64_t expires = 0;  // seconds since 1970, UTC
  bool operator==(const SignatureExpiry&) const = default;
};

inline constexpr int kDefaultExpiryWarningDays = 14;

// The EXPIRES of a served manifest's signature; nothing when it has none.
std::optional<std::int64_t> SignatureExpiresAt(const std::string& manifest);

// Every served component whose signature expires, by key.
std::vector<SignatureExpiry> SignatureExpiries(const ReleaseSnapshot& snapshot);

// The warning due at `now` for a signature that expires within
// `warning_days` days and has not expired yet (the snapshot itself warns
// about an expired one); nothing otherwise.
std::optional<std::string> ExpiryWarning(const SignatureExpiry& expiry, std::int64_t now,
                                         int warning_days);

}  // namespace mb::server
