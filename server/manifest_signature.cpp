#include "server/manifest_signature.h"

#include <chrono>

#include "formats/profile_document.h"
#include "platform/posix/posix_signature.h"
#include "server/release_ini.h"
#include "trust/encoding.h"
#include "trust/key_ring.h"
#include "trust/manifest_policy.h"
#include "trust/signed_manifest.h"

namespace mb::server {
namespace {

constexpr const char* kSectionStart = "\r\n[SIGNATURE]\r\n";

std::string Problem(const std::string& why) {
  return "signature.ini " + why + "; sign the release again";
}

formats::ProfileDocument SignerSection(const std::string& signature_file) {
  return formats::ProfileDocument(signature_file.substr(0, signature_file.find(kSectionStart)));
}

// The generic add-in's NOT_FOR against the version folders there are now:
// a folder added after signing would get the generic add-in through a
// request naming another version.
SignedAnswer CheckNotFor(SignedAnswer answer, const SignedFor& expected) {
  const trust::EnvelopeRead read = trust::ReadEnvelope(*answer.manifest);
  const std::optional<std::string> not_for = read.envelope.Field(trust::kNotForField);
  if (not_for.value_or("") == expected.not_for) return answer;
  if (!not_for) {
    if (!answer.warning.empty()) return answer;
    answer.warning =
        "signature.ini does not name the Outlook versions with folders of their own (an older "
        "sign): agents of " + expected.not_for + " would take this add-in; sign again";
    return answer;
  }
  return {std::nullopt,
          Problem("names the Outlook versions " + *not_for + ", the release has folders for " +
                  (expected.not_for.empty() ? std::string("none") : expected.not_for)),
          ""};
}

}  // namespace

platform::Crypto& ServerCrypto() {
  static posix::OpenSslCrypto crypto;
  return crypto;
}

std::int64_t UtcNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

SignedAnswer AttachSignature(const std::string& body, const std::string& signature_file,
                             const SignedFor& expected) {
  const std::size_t section = signature_file.find(kSectionStart);
  if (section == std::string::npos) return {std::nullopt, Problem("holds no [SIGNATURE]"), ""};
  const formats::ProfileDocument signer = SignerSection(signature_file);
  const std::string key = IniValue(signer, "SIGNER", "PUBLIC_KEY").value_or("");
  const std::string signed_page = IniValue(signer, "SIGNER", "CODE_PAGE").value_or("");
  if (signed_page != std::to_string(expected.code_page)) {
    return {std::nullopt,
            Problem("was made for code page " + signed_page + ", this server uses " +
                    std::to_string(expected.code_page)),
            ""};
  }
  trust::KeyRing keys;
  keys.AddText(key, "signature.ini", ServerCrypto());
  trust::Expectation expect;
  expect.components = {expected.component};
  expect.now = expected.now;
  std::string manifest = body + signature_file.substr(section);
  const trust::Verdict v = trust::JudgeManifest(manifest, keys, expect, ServerCrypto());
  if (v.refusal == trust::Refusal::kExpired) {
    return CheckNotFor({std::move(manifest), "",
                        "the signature " + v.reason +
                            ": agents with trusted keys refuse it; sign again"},
                       expected);
  }
  if (!v.Accepted()) {
    if (v.refusal == trust::Refusal::kInvalid &&
        v.reason.find("changed after") != std::string::npos)
      return {std::nullopt, Problem("no longer fits the files (they changed after signing)"), "",
              true};
    return {std::nullopt, Problem("does not hold: " + v.reason), ""};
  }
  SignedAnswer answer = CheckNotFor({std::move(manifest), "", ""}, expected);
  if (answer.manifest && answer.warning.empty() && !SignsFileLengths(signature_file))
    answer.warning = "signature.ini gives no file lengths (an older sign): sign again, so "
                     "agents bound what they fetch for each file";
  return answer;
}

bool SignsFileLengths(const std::string& signature_file) {
  return IniValue(SignerSection(signature_file), "SIGNER", "FILE_LENGTHS").value_or("") == "YES";
}

std::string SignatureFileText(const std::string& public_key_der, int code_page,
                              const std::string& signature_section) {
  return "[SIGNER]\r\nPUBLIC_KEY=" + trust::Base64Encode(public_key_der) +
         "\r\nCODE_PAGE=" + std::to_string(code_page) + "\r\nFILE_LENGTHS=YES\r\n" +
         signature_section;
}

}  // namespace mb::server
