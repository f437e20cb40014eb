// A signed component as its folder keeps it: signature.ini, written by
// `mailbeacon-server sign` (server/release_signing.h), public material
// only. The machine that serves never holds the key.
//
//   [SIGNER]
//   PUBLIC_KEY=<base64 DER>    the key that signed: the server checks with
//   CODE_PAGE=949              it that the signature still fits the files
//
//   [SIGNATURE]                served as it stands, after the manifest
//   COMPONENT=express
//   SIGNED=...  EXPIRES=...  KEY_ID=...  VALUE=...
//
// A signed component's manifest carries each file's SHA-256 (FILE_i
// SHA256=, lower-case hex) beside its MD5, and the signature section
// (trust/signed_manifest.h) after the last file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/signature.h"

namespace mb::server {

inline constexpr const char* kSignatureFile = "signature.ini";
inline constexpr const char* kSha256Key = "SHA256";

// OpenSSL's SHA-256 and ECDSA, for the signer and the server.
platform::Crypto& ServerCrypto();

struct SignedAnswer {
  std::optional<std::string> manifest;  // the manifest as served, when the signature fits
  std::string problem;                  // why not
  std::string warning;                  // it fits but agents with keys refuse it (expired)
  bool no_longer_fits = false;          // the bytes it covers are no longer the manifest's
};

// The manifest body the server made for `component` ("express",
// "outlook/2003", ...) under code page `code_page`, with the signature kept
// in signature_file; judged at `now` (seconds since 1970, UTC).
SignedAnswer AttachSignature(const std::string& body, const std::string& signature_file,
                             const std::string& component, int code_page, std::int64_t now);

// What sign writes: the signer's public key and code page, then the
// signature section (trust::EnvelopeHead + the VALUE line).
std::string SignatureFileText(const std::string& public_key_der, int code_page,
                              const std::string& signature_section);

std::int64_t UtcNow();

}  // namespace mb::server
