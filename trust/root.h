// The root of trust, after The Update Framework's root role: which keys
// sign releases, and which keys - how many of them - may name the next
// root. A vendor whose release key is stolen or lost publishes a new root
// with new release keys; one whose root key is stolen replaces it the same
// way, since no single root key makes a root on its own (the threshold).
// A root is a text of the vendor's offline machine (mailbeacon-server
// sign-root), published as keys/root.N.ini:
//
//   [ROOT]
//   VERSION=2                          1 for the root agents are pinned to
//   EXPIRES=2028-01-01T00:00:00Z       releases are refused once it passes
//   THRESHOLD=2                        how many root keys must sign
//   ROOT_KEYS=<base64 DER> ...         who may sign roots
//   RELEASE_KEYS=<base64 DER> ...      who may sign releases
//
//   [SIGNATURE]                        one section per root key that signed
//   KEY_ID=0123456789abcdef            (trust/signed_manifest.h)
//   VALUE=...
//
// The pinned root must be signed by THRESHOLD of its own keys. Root N+1 is
// taken after root N only when it says VERSION=N+1 and is signed by
// THRESHOLD of root N's keys and by THRESHOLD of its own. Whether a root
// has expired is the caller's to judge (Expired): a root that expired on
// the way to a newer one is passed through, as TUF's clients do, so an
// agent that slept through a root's life still reaches the next.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/signature.h"
#include "trust/key_ring.h"

namespace mb::trust {

struct Root {
  int version = 0;
  std::int64_t expires = 0;  // seconds since 1970, UTC
  int threshold = 0;
  std::vector<TrustedKey> root_keys;
  std::vector<TrustedKey> release_keys;
};

struct RootRead {
  std::optional<Root> root;
  std::string problem;  // why not, for the update log
};

// The root's fields, its signatures not looked at.
RootRead ParseRoot(std::string_view text, platform::Crypto& crypto);
// The root an agent is pinned to, signed by its own threshold.
RootRead PinnedRoot(std::string_view text, platform::Crypto& crypto);
// The root that follows `trusted`.
RootRead NextRoot(std::string_view text, const Root& trusted, platform::Crypto& crypto);
// Why releases cannot be trusted through the root at `now`; empty when they can.
std::string Expired(const Root& root, std::int64_t now);

// The [ROOT] section a signer writes (CRLF line ends), keys in base64; the
// signature sections follow it (EnvelopeHead({KEY_ID}) + the VALUE line).
std::string RootBody(int version, std::int64_t expires, int threshold,
                     const std::vector<std::string>& root_keys_der,
                     const std::vector<std::string>& release_keys_der);

}  // namespace mb::trust
