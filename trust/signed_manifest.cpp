#include "trust/signed_manifest.h"

#include "platform/signature.h"
#include "trust/encoding.h"

namespace mb::trust {
namespace {

constexpr std::string_view kCrLf = "\r\n";

std::string HeaderLine() { return std::string("[") + kSignatureSection + "]\r\n"; }

// Where the last line "[SIGNATURE]" begins, or npos.
std::size_t SectionStart(std::string_view bytes) {
  const std::string header = HeaderLine();
  for (std::size_t at = bytes.rfind(header); at != std::string_view::npos;
       at = at == 0 ? std::string_view::npos : bytes.rfind(header, at - 1)) {
    if (at == 0 || bytes[at - 1] == '\n') return at;
  }
  return std::string_view::npos;
}

bool IsFieldName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

// Splits the section's lines into fields; the last one must be VALUE, and
// last_line is where it starts.
bool ReadFields(std::string_view section, Fields& fields, std::size_t& last_line,
                std::string& problem) {
  std::size_t at = 0;
  while (at < section.size()) {
    last_line = at;
    std::size_t end = section.find(kCrLf, at);
    const std::string_view line =
        section.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || !IsFieldName(line.substr(0, eq)) ||
        line.find_first_of("\r\n") != std::string_view::npos) {
      problem = "a line of the signature section is not NAME=value";
      return false;
    }
    fields.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    at = end == std::string_view::npos ? section.size() : end + kCrLf.size();
  }
  if (fields.empty() || fields.back().first != kValueField) {
    problem = "the signature section does not end with its VALUE";
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> Envelope::Field(std::string_view key) const {
  for (const auto& [name, value] : fields)
    if (name == key) return value;
  return std::nullopt;
}

EnvelopeRead ReadEnvelope(std::string_view manifest) {
  EnvelopeRead read;
  const std::size_t start = SectionStart(manifest);
  if (start == std::string_view::npos) return read;
  read.status = EnvelopeStatus::kMalformed;
  const std::size_t body = start + HeaderLine().size();
  Fields fields;
  std::size_t value_line = 0;
  if (!ReadFields(manifest.substr(body), fields, value_line, read.problem)) return read;
  const std::string value = fields.back().second;
  fields.pop_back();
  for (const auto& field : fields) {
    if (field.first == kValueField) {
      read.problem = "VALUE appears twice";
      return read;
    }
  }
  std::optional<std::string> signature = Base64Decode(value);
  if (!signature || signature->size() != platform::kP256SignatureBytes) {
    read.problem = "VALUE is not a base64 P-256 signature";
    return read;
  }
  read.envelope.message = manifest.substr(0, body + value_line);
  read.envelope.signature = std::move(*signature);
  read.envelope.fields = std::move(fields);
  read.status = EnvelopeStatus::kSigned;
  return read;
}

namespace {

const std::string kSectionStart = std::string(kCrLf) + "[" + kSignatureSection + "]\r\n";

// One signature section at `at` (its leading line break): the fields up to
// and including VALUE; `next` is where the text goes on after it.
bool ReadSection(std::string_view text, std::size_t at, SectionSignature& s, std::size_t& next,
                 std::string& problem) {
  std::size_t pos = at + kSectionStart.size();
  while (pos < text.size()) {
    const std::size_t end = std::min(text.find(kCrLf, pos), text.size());
    const std::string_view line = text.substr(pos, end - pos);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || !IsFieldName(line.substr(0, eq))) break;
    if (line.substr(0, eq) != kValueField) {
      s.fields.emplace_back(line.substr(0, eq), line.substr(eq + 1));
      pos = end + kCrLf.size();
      continue;
    }
    std::optional<std::string> signature = Base64Decode(line.substr(eq + 1));
    if (!signature || signature->size() != platform::kP256SignatureBytes) {
      problem = "VALUE is not a base64 P-256 signature";
      return false;
    }
    s.signature = std::move(*signature);
    s.message = std::string(text.substr(0, text.find(kSectionStart))) +
                std::string(text.substr(at, pos - at));
    next = std::min(end + kCrLf.size(), text.size());
    return true;
  }
  problem = "a signature section does not end with its VALUE";
  return false;
}

}  // namespace

std::optional<std::string> SectionSignature::Field(std::string_view key) const {
  for (const auto& [name, value] : fields)
    if (name == key) return value;
  return std::nullopt;
}

SignedSections ReadSignedSections(std::string_view text) {
  SignedSections out;
  std::size_t at = text.find(kSectionStart);
  if (at == std::string_view::npos) {
    out.problem = "no signature";
    return out;
  }
  out.body = text.substr(0, at);
  while (at < text.size()) {
    SectionSignature s;
    std::size_t next = 0;
    if (text.compare(at, kSectionStart.size(), kSectionStart) != 0) {
      out.problem = "something else than a signature section follows the signatures";
    } else if (ReadSection(text, at, s, next, out.problem)) {
      out.signatures.push_back(std::move(s));
      at = next;
      continue;
    }
    out.signatures.clear();
    return out;
  }
  return out;
}

std::string EnvelopeHead(const Fields& fields) {
  std::string out = std::string(kCrLf) + HeaderLine();
  for (const auto& [name, value] : fields) {
    out += name;
    out += '=';
    out += value;
    out += kCrLf;
  }
  return out;
}

std::string EnvelopeValueLine(std::string_view signature) {
  return std::string(kValueField) + "=" + Base64Encode(signature) + std::string(kCrLf);
}

}  // namespace mb::trust
