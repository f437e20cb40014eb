// Signed releases, the agent's side. Without a trusted key (none compiled
// in, no TrustedKeys value) nothing here acts: the agent is the design's
// agent, byte for byte. With one, a component's pass goes on only when its
// manifest is signed by a trusted key, for that component, not expired, and
// not signed earlier than the newest manifest of that component accepted
// before; and each file it fetches must match the manifest's signed SHA-256
// as well as its MD5. A refusal fails the pass as a failed download does,
// and says why in the update log (once while it stays the same) and, on
// POSIX, on stderr.
//
// What was accepted survives restarts in a file of the agent's own in the
// update folder, accepted_signatures.ini: per component section the signing
// time (SIGNED) of the newest manifest it acted on. It lives and goes with
// the install record it guards (an uninstall removes both).
#include "agent/build_trusted_keys.h"
#include "agent/frm_tray.h"
#include "planning/ini_formats.h"
#include "planning/transfer_limits.h"
#include "rules/agent_files.h"
#include "trust/encoding.h"
#include "trust/manifest_policy.h"
#include "trust/timestamp.h"

namespace mb {

namespace {

constexpr const char* kTrustedKeysValue = "TrustedKeys";
constexpr const char* kSignedKey = "SIGNED";
// More than a hundred keys; a value beyond this is refused, not cut.
constexpr std::uint32_t kMaxKeyText = 64 * 1024;
constexpr std::size_t kSha256HexDigits = 64;

struct KeyText {
  bool given = false;
  std::string text;
  std::string problem;  // given, but unusable
};

// TrustedKeys as text. Read here rather than through GetRegValue, whose
// 1 KiB buffer would read a long list as no list at all.
KeyText ReadKeyText(platform::Registry& reg, const platform::CodePage& cp) {
  KeyText out;
  platform::RegKey key = 0;
  if (reg.OpenKey(platform::kHkeyCurrentUser, cp.ToAnsi(kProductKey), platform::kAgentKeyAccess,
                  &key) != 0)
    return out;
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  long rc = reg.QueryValue(key, kTrustedKeysValue, &type, nullptr, &size);
  std::string data;
  if (rc == 0 && size <= kMaxKeyText) {
    data.resize(size);
    rc = reg.QueryValue(key, kTrustedKeysValue, &type, reinterpret_cast<std::uint8_t*>(data.data()),
                        &size);
    data.resize(std::min<std::size_t>(size, data.size()));
  }
  reg.CloseKey(key);
  if (rc == platform::kErrorFileNotFound) return out;
  out.given = true;
  if (rc != 0 || size > kMaxKeyText) {
    out.problem = "the value cannot be read (error " + std::to_string(rc) + ")";
  } else if (type != platform::kRegSz && type != platform::kRegExpandSz &&
             type != platform::kRegMultiSz) {
    out.problem = "the value is not text";
  } else {
    for (char& c : data)
      if (c == '\0') c = ' ';  // the end of a string, or between those of REG_MULTI_SZ
    out.text = cp.FromAnsi(data);
  }
  return out;
}

// The manifest's bytes (at most the text transfer cap, which it was
// downloaded under).
std::string ReadManifestBytes(platform::FileSystem& fs, const std::string& path) {
  auto file = fs.OpenRead(path);
  std::string bytes;
  char buffer[64 * 1024];
  while (const std::size_t n = file->Read(buffer, sizeof buffer)) {
    bytes.append(buffer, n);
    if (bytes.size() > static_cast<std::size_t>(kTextTransferCap))
      throw Error(kErrPastEndOfFile, "the manifest is over its size limit");
  }
  return bytes;
}

// What a refusal names: the component, as the vendor knows it (never the
// manifest's file name in the update folder).
std::string ComponentTitle(std::int16_t kind) {
  if (kind == kOutlookAddin) return "the Outlook add-in";
  if (kind == kExpressPlugin) return "the Outlook Express plug-in";
  return "the agent";
}

}  // namespace

void frmTray::LoadTrustedKeys() {
  keys_ = trust::KeyRing();
  const std::string built = BuildTrustedKeys();
  const KeyText given = ReadKeyText(*p_.registry, *p_.codepage);
  if (built.empty() && !given.given) return;
  if (p_.crypto == nullptr) {
    keys_.AddUnusable("this program has no cryptography for signed releases");
    return;
  }
  keys_.AddText(built, "built-in keys", *p_.crypto);
  if (!given.problem.empty()) {
    keys_.AddUnusable(std::string(kTrustedKeysValue) + ": " + given.problem);
  } else {
    keys_.AddText(given.text, kTrustedKeysValue, *p_.crypto);
  }
}

bool frmTray::ManifestTrusted(std::int16_t kind) {
  const auto names = ini::NamesFor(kind);
  if (!keys_.Active() || !names) return true;
  const std::string path = state_.UpdateDir + "\\" + names->ManifestFile;
  // No manifest lists no file: nothing is fetched or installed, as the
  // design has it.
  if (!p_.fs->IsOrdinaryFile(path)) return true;
  trust::Verdict verdict;
  try {
    const std::string bytes = ReadManifestBytes(*p_.fs, path);
    if (p_.crypto == nullptr) throw Error(0, "no cryptography to check it with");
    const trust::Expectation expect{SignedComponentNames(kind), p_.process->UtcNow(),
                                    AcceptedSigningTime(kind)};
    verdict = trust::JudgeManifest(bytes, keys_, expect, *p_.crypto);
  } catch (const std::exception& e) {
    verdict = {trust::Refusal::kInvalid, std::string("cannot check it: ") + e.what(), 0};
  }
  if (!verdict.Accepted()) {
    Refuse(kind, manifest_urls_[kind], ComponentTitle(kind), verdict.reason);
    return false;
  }
  RememberAccepted(kind, verdict.signed_at);
  logged_refusal_.erase(kind);
  return true;
}

bool frmTray::SignedDigestFits(std::int16_t kind, const FileRecord& r, const std::string& sha256) {
  if (!keys_.Active()) return true;
  if (!trust::IsLowerHex(r.Sha256, kSha256HexDigits)) {
    Refuse(kind, r.DownloadUrl, r.Name + " of " + ComponentTitle(kind),
           "the signed manifest gives no SHA-256 for it");
    return false;
  }
  if (sha256 != r.Sha256) {
    Refuse(kind, r.DownloadUrl, r.Name + " of " + ComponentTitle(kind),
           "its SHA-256 is not the signed one");
    return false;
  }
  return true;
}

// What a manifest of this component may be signed for: the component's
// folder, and for the add-in also the folder of this Outlook's version.
std::vector<std::string> frmTray::SignedComponentNames(std::int16_t kind) {
  if (kind == kOutlookAddin) return {"outlook", "outlook/" + OutlookVersionLabel()};
  if (kind == kExpressPlugin) return {"express"};
  return {"agent"};
}

std::optional<std::int64_t> frmTray::AcceptedSigningTime(std::int16_t kind) {
  std::optional<std::int64_t> newest;
  if (auto it = accepted_.find(kind); it != accepted_.end()) newest = it->second;
  const std::string stored =
      GetVal(ini::NamesFor(kind)->ComponentSection, kSignedKey, AcceptedSignaturesPath());
  if (const std::optional<std::int64_t> t = trust::ParseUtcTime(stored))
    newest = newest ? std::max(*newest, *t) : *t;
  return newest;
}

// Kept in memory as well, so a file that cannot be written still refuses an
// older manifest for as long as the agent runs.
void frmTray::RememberAccepted(std::int16_t kind, std::int64_t signed_at) {
  const std::optional<std::int64_t> before = AcceptedSigningTime(kind);
  if (before && *before >= signed_at) return;
  accepted_[kind] = signed_at;
  PutVal(ini::NamesFor(kind)->ComponentSection, kSignedKey, trust::FormatUtcTime(signed_at),
         AcceptedSignaturesPath());
}

std::string frmTray::AcceptedSignaturesPath() const {
  return state_.UpdateDir + "\\" + files::kAcceptedSignatures;
}

void frmTray::Refuse(std::int16_t kind, const std::string& url, const std::string& what,
                     const std::string& reason) {
  refused_ = true;
  std::string line = "refused " + what + ": " + reason;
  for (const std::string& problem : keys_.Problems()) line += " [" + problem + "]";
  if (logged_refusal_[kind] != line) {
    logged_refusal_[kind] = line;
    try {
      WriteUpdateLog(line);
    } catch (const std::exception&) {
      // The refusal stands; a log that cannot be written changes nothing.
    }
  }
  p_.net->NoteRefused(url.empty() ? what : url, reason);
}

}  // namespace mb
