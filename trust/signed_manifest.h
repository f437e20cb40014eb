// The envelope of a signed manifest: the manifest exactly as the server
// makes it, then one more section that an agent reading only its own keys
// never looks at:
//
//   [SIGNATURE]
//   COMPONENT=express               what it is for: a component folder
//                                   ("outlook/2003" for a version folder)
//   SIGNED=2026-12-07T10:00:00Z     when it was signed (UTC)
//   EXPIRES=2027-06-30T00:00:00Z    optional: not valid from then on
//   KEY_ID=0123456789abcdef         which key signed it
//   VALUE=<base64 of r||s>          the signature, the last line
//
// The signature covers every byte before the VALUE line: every section and
// key as served (also keys a later server adds) and the fields above. The
// VALUE line must end the file, so nothing unsigned can be added where an
// INI reader would find it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mb::trust {

inline constexpr const char* kSignatureSection = "SIGNATURE";
inline constexpr const char* kComponentField = "COMPONENT";
inline constexpr const char* kSignedField = "SIGNED";
inline constexpr const char* kExpiresField = "EXPIRES";
inline constexpr const char* kKeyIdField = "KEY_ID";
inline constexpr const char* kValueField = "VALUE";

using Fields = std::vector<std::pair<std::string, std::string>>;

struct Envelope {
  std::string_view message;  // the bytes the signature covers
  std::string signature;     // r||s
  Fields fields;             // the signature section's fields before VALUE, in order
  std::optional<std::string> Field(std::string_view key) const;
};

enum class EnvelopeStatus { kUnsigned, kMalformed, kSigned };

struct EnvelopeRead {
  EnvelopeStatus status = EnvelopeStatus::kUnsigned;
  Envelope envelope;    // when kSigned; message points into the bytes read
  std::string problem;  // when kMalformed
};

EnvelopeRead ReadEnvelope(std::string_view manifest);

// What a signer appends to the manifest before signing: a blank line, the
// section's name and the fields, CRLF after each.
std::string EnvelopeHead(const Fields& fields);
// The last line, once the message is signed.
std::string EnvelopeValueLine(std::string_view signature);

}  // namespace mb::trust
