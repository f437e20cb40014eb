#include "trust/root.h"

#include <map>

#include "trust/encoding.h"
#include "trust/signed_manifest.h"
#include "trust/timestamp.h"

namespace mb::trust {
namespace {

constexpr std::string_view kHeader = "[ROOT]\r\n";
constexpr std::string_view kCrLf = "\r\n";
constexpr std::size_t kMaxVersionDigits = 9;

RootRead Refused(std::string problem) { return {std::nullopt, std::move(problem)}; }

// The lines after [ROOT], NAME=value each; nothing for another form or a
// name given twice (readers that take the first and the last would differ).
std::optional<std::map<std::string, std::string>> Lines(std::string_view body) {
  if (body.substr(0, kHeader.size()) != kHeader) return std::nullopt;
  std::map<std::string, std::string> lines;
  for (std::size_t at = kHeader.size(); at < body.size();) {
    const std::size_t end = std::min(body.find(kCrLf, at), body.size());
    const std::string_view line = body.substr(at, end - at);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq == 0) return std::nullopt;
    if (!lines.emplace(line.substr(0, eq), line.substr(eq + 1)).second) return std::nullopt;
    at = end + kCrLf.size();
  }
  return lines;
}

std::optional<int> Number(const std::string& text) {
  if (text.empty() || text.size() > kMaxVersionDigits || text[0] == '0') return std::nullopt;
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

// The keys of one line; a problem when any entry is no key, or none is given.
std::optional<std::vector<TrustedKey>> Keys(const std::string& text, const char* name,
                                            platform::Crypto& crypto, std::string& problem) {
  KeyRing ring;
  ring.AddText(text, name, crypto);
  if (!ring.Problems().empty()) problem = ring.Problems().front();
  if (ring.Keys().empty() && problem.empty()) problem = std::string(name) + " names no key";
  if (!problem.empty()) return std::nullopt;
  return ring.Keys();
}

std::string Value(const std::map<std::string, std::string>& lines, const char* name) {
  const auto it = lines.find(name);
  return it == lines.end() ? std::string() : it->second;
}

// How many of `keys` signed the text, each counted once.
int Signers(const SignedSections& text, const std::vector<TrustedKey>& keys,
            platform::Crypto& crypto) {
  int count = 0;
  for (const TrustedKey& key : keys) {
    for (const SectionSignature& s : text.signatures) {
      if (s.Field(kKeyIdField).value_or("") != key.id) continue;
      std::unique_ptr<platform::SignatureVerifier> verifier = crypto.NewVerifier();
      if (!verifier->Init(key.der, s.signature).empty()) continue;
      verifier->Update(s.message.data(), s.message.size());
      if (verifier->Final()) {
        ++count;
        break;
      }
    }
  }
  return count;
}

std::string Named(const Root& root) { return "root " + std::to_string(root.version); }

// Signed by `root`'s threshold of its keys: empty, or why not.
std::string ThresholdProblem(const SignedSections& text, const Root& by, const Root& signed_root,
                             platform::Crypto& crypto) {
  const int signers = Signers(text, by.root_keys, crypto);
  if (signers >= by.threshold) return "";
  const std::string whose = &by == &signed_root ? "its own" : Named(by) + "'s";
  return Named(signed_root) + " is signed by " + std::to_string(signers) + " of " + whose +
         " root keys, " + std::to_string(by.threshold) + " needed";
}

}  // namespace

RootRead ParseRoot(std::string_view text, platform::Crypto& crypto) {
  const SignedSections sections = ReadSignedSections(text);
  if (!sections.problem.empty()) return Refused("a root: " + sections.problem);
  const std::optional<std::map<std::string, std::string>> lines = Lines(sections.body);
  if (!lines) return Refused("not a root ([ROOT] and NAME=value lines, each name once)");
  Root root;
  const std::optional<int> version = Number(Value(*lines, "VERSION"));
  const std::optional<std::int64_t> expires = ParseUtcTime(Value(*lines, "EXPIRES"));
  const std::optional<int> threshold = Number(Value(*lines, "THRESHOLD"));
  if (!version) return Refused("a root without a VERSION from 1 on");
  root.version = *version;
  if (!expires) return Refused(Named(root) + " has no EXPIRES time");
  root.expires = *expires;
  std::string problem;
  std::optional<std::vector<TrustedKey>> root_keys =
      Keys(Value(*lines, "ROOT_KEYS"), "ROOT_KEYS", crypto, problem);
  std::optional<std::vector<TrustedKey>> release_keys =
      root_keys ? Keys(Value(*lines, "RELEASE_KEYS"), "RELEASE_KEYS", crypto, problem)
                : std::nullopt;
  if (!release_keys) return Refused(Named(root) + ": " + problem);
  root.root_keys = std::move(*root_keys);
  root.release_keys = std::move(*release_keys);
  if (!threshold || *threshold > static_cast<int>(root.root_keys.size()))
    return Refused(Named(root) + ": THRESHOLD is not a number from 1 to the number of ROOT_KEYS");
  root.threshold = *threshold;
  return {std::move(root), ""};
}

RootRead PinnedRoot(std::string_view text, platform::Crypto& crypto) {
  RootRead read = ParseRoot(text, crypto);
  if (!read.root) return read;
  const std::string problem =
      ThresholdProblem(ReadSignedSections(text), *read.root, *read.root, crypto);
  if (!problem.empty()) return Refused(problem);
  return read;
}

RootRead NextRoot(std::string_view text, const Root& trusted, platform::Crypto& crypto) {
  RootRead read = ParseRoot(text, crypto);
  if (!read.root) return read;
  const Root& next = *read.root;
  if (next.version != trusted.version + 1) {
    return Refused("root " + std::to_string(trusted.version + 1) + " was asked for, and " +
                   Named(next) + " came (" +
                   (next.version <= trusted.version ? "a lower version" : "one skipped") + ")");
  }
  const SignedSections sections = ReadSignedSections(text);
  std::string problem = ThresholdProblem(sections, trusted, next, crypto);
  if (problem.empty()) problem = ThresholdProblem(sections, next, next, crypto);
  if (!problem.empty()) return Refused(problem);
  return read;
}

std::string Expired(const Root& root, std::int64_t now) {
  if (now < root.expires) return "";
  return Named(root) + " expired on " + FormatUtcTime(root.expires);
}

std::string RootBody(int version, std::int64_t expires, int threshold,
                     const std::vector<std::string>& root_keys_der,
                     const std::vector<std::string>& release_keys_der) {
  auto joined = [](const std::vector<std::string>& keys) {
    std::string out;
    for (const std::string& der : keys) out += (out.empty() ? "" : " ") + Base64Encode(der);
    return out;
  };
  std::string body(kHeader);
  body += "VERSION=" + std::to_string(version) + "\r\n";
  body += "EXPIRES=" + FormatUtcTime(expires) + "\r\n";
  body += "THRESHOLD=" + std::to_string(threshold) + "\r\n";
  body += "ROOT_KEYS=" + joined(root_keys_der) + "\r\n";
  body += "RELEASE_KEYS=" + joined(release_keys_der) + "\r\n";
  return body;
}

}  // namespace mb::trust
