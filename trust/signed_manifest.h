// The envelope of a signed manifest: the manifest exactly as the server
// makes it, then one more section that an agent reading only its own keys
// never looks at:
//
//   [SIGNATURE]
//   COMPONENT=express               what it is for: a component folder
//                                   ("outlook/2003" for a version folder)
//   SIGNED=2026-12-07T10:00:00Z     when it was signed (UTC)
//   EXPIRES=2027-06-30T00:00:00Z    optional: not valid from then on
//   NOT_FOR=outlook/2003            optional: names it is not for (the
//                                   add-in's versions with folders of their own)
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
inline constexpr const char* kNotForField = "NOT_FOR";
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

// A text signed by several keys (a root of trust, trust/root.h): the body,
// then one signature section per key, each as EnvelopeHead + the VALUE line
// makes it and each over the body and its own head:
//
//   BODY \r\n[SIGNATURE]\r\nKEY_ID=...\r\nVALUE=...\r\n \r\n[SIGNATURE]\r\n...
struct SectionSignature {
  Fields fields;          // before VALUE, in order
  std::string signature;  // r||s
  std::string message;    // the body and this section's head: what it signs
  std::optional<std::string> Field(std::string_view key) const;
};

struct SignedSections {
  std::string_view body;                     // up to the first signature section
  std::vector<SectionSignature> signatures;  // at least one, unless problem is set
  std::string problem;                       // why the text is not of this form
};

SignedSections ReadSignedSections(std::string_view text);

// What a signer appends to the manifest before signing: a blank line, the
// section's name and the fields, CRLF after each.
std::string EnvelopeHead(const Fields& fields);
// The last line, once the message is signed.
std::string EnvelopeValueLine(std::string_view signature);

}  // namespace mb::trust
