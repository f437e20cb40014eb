// A signed component as its folder keeps it: signature.ini, written by
// `mailbeacon-server sign` (server/release_signing.h), public material
// only. The machine that serves never holds the key.
//
//   [SIGNER]
//   PUBLIC_KEY=<base64 DER>    the key that signed: the server checks with
//   CODE_PAGE=949              it that the signature still fits the files
//   FILE_LENGTHS=YES           the signed manifest gives each file's LENGTH
//                              (signatures of an older sign have none)
//
//   [SIGNATURE]                served as it stands, after the manifest
//   COMPONENT=express
//   SIGNED=...  EXPIRES=...  NOT_FOR=...  KEY_ID=...  VALUE=...
//
// A signed component's manifest carries each file's SHA-256 (FILE_i
// SHA256=, lower-case hex) beside its MD5 and its length in bytes (LENGTH=),
// and the signature section (trust/signed_manifest.h) after the last file.
// The generic add-in's signature names the Outlook versions that have
// folders of their own (NOT_FOR=outlook/2003,...): agents of those versions
// refuse it, so a request that names another version cannot bring it them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/signature.h"

namespace mb::server {

inline constexpr const char* kSignatureFile = "signature.ini";
inline constexpr const char* kSha256Key = "SHA256";
inline constexpr const char* kLengthKey = "LENGTH";

// OpenSSL's SHA-256 and ECDSA, for the signer and the server.
platform::Crypto& ServerCrypto();

struct SignedAnswer {
  std::optional<std::string> manifest;  // the manifest as served, when the signature fits
  std::string problem;                  // why not
  std::string warning;                  // it fits but agents with keys refuse it (expired)
  bool no_longer_fits = false;          // the bytes it covers are no longer the manifest's
};

// What a component's signature must say.
struct SignedFor {
  std::string component;  // "express", "outlook/2003", ...
  std::string not_for;    // the generic add-in's: NOT_FOR as the release has it now
  int code_page = 949;
  std::int64_t now = 0;  // seconds since 1970, UTC
};

// The manifest body the server made for the component, with the signature
// kept in signature_file.
SignedAnswer AttachSignature(const std::string& body, const std::string& signature_file,
                             const SignedFor& expected);

// Whether the kept signature's manifest gives each file's LENGTH.
bool SignsFileLengths(const std::string& signature_file);

// What sign writes: the signer's public key and code page, then the
// signature section (trust::EnvelopeHead + the VALUE line).
std::string SignatureFileText(const std::string& public_key_der, int code_page,
                              const std::string& signature_section);

std::int64_t UtcNow();

}  // namespace mb::server
