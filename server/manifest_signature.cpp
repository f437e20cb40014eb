#include "server/manifest_signature.h"

#include <chrono>

#include "formats/profile_document.h"
#include "platform/posix/posix_signature.h"
#include "server/release_ini.h"
#include "trust/encoding.h"
#include "trust/key_ring.h"
#include "trust/manifest_policy.h"

namespace mb::server {
namespace {

constexpr const char* kSectionStart = "\r\n[SIGNATURE]\r\n";

std::string Problem(const std::string& why) {
  return "signature.ini " + why + "; sign the release again";
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
                             const std::string& component, int code_page, std::int64_t now) {
  const std::size_t section = signature_file.find(kSectionStart);
  if (section == std::string::npos) return {std::nullopt, Problem("holds no [SIGNATURE]"), ""};
  const formats::ProfileDocument signer(signature_file.substr(0, section));
  const std::string key = IniValue(signer, "SIGNER", "PUBLIC_KEY").value_or("");
  const std::string signed_page = IniValue(signer, "SIGNER", "CODE_PAGE").value_or("");
  if (signed_page != std::to_string(code_page)) {
    return {std::nullopt,
            Problem("was made for code page " + signed_page + ", this server uses " +
                    std::to_string(code_page)),
            ""};
  }
  trust::KeyRing keys;
  keys.AddText(key, "signature.ini", ServerCrypto());
  trust::Expectation expect{{component}, now, std::nullopt};
  std::string manifest = body + signature_file.substr(section);
  const trust::Verdict v = trust::JudgeManifest(manifest, keys, expect, ServerCrypto());
  if (v.refusal == trust::Refusal::kExpired) {
    return {std::move(manifest), "",
            "the signature " + v.reason + ": agents with trusted keys refuse it; sign again"};
  }
  if (!v.Accepted()) {
    if (v.refusal == trust::Refusal::kInvalid &&
        v.reason.find("changed after") != std::string::npos)
      return {std::nullopt, Problem("no longer fits the files (they changed after signing)"), "",
              true};
    return {std::nullopt, Problem("does not hold: " + v.reason), ""};
  }
  return {std::move(manifest), "", ""};
}

std::string SignatureFileText(const std::string& public_key_der, int code_page,
                              const std::string& signature_section) {
  return "[SIGNER]\r\nPUBLIC_KEY=" + trust::Base64Encode(public_key_der) +
         "\r\nCODE_PAGE=" + std::to_string(code_page) + "\r\n" + signature_section;
}

}  // namespace mb::server
