// Signed releases, the agent's side. Without a trusted key (none compiled
// in, no TrustedKeys value, no root of trust) nothing here acts: the agent
// is the design's agent, byte for byte. With one, a component's pass goes
// on only when its manifest is signed by a trusted key, for that component,
// not expired, and no step back from what was accepted before
// (trust/manifest_policy.h); and each file it fetches must match the
// manifest's signed SHA-256 as well as its MD5, and bring no more than its
// signed LENGTH. A refusal fails the pass as a failed download does, and
// says why in the update log (once while it stays the same) and, on POSIX,
// on stderr.
//
// What was accepted survives restarts in a file of the agent's own in the
// update folder, accepted_signatures.ini: per component section the signing
// time (SIGNED) of the newest manifest it acted on and the release it named
// (LAST_VERSION; records of older agents have only the time). It lives and
// goes with the install record it guards (an uninstall removes both).
#include "agent/build_trusted_keys.h"
#include "agent/frm_tray.h"
#include "agent/trust_values.h"
#include "planning/ini_formats.h"
#include "planning/transfer_limits.h"
#include "rules/agent_files.h"
#include "support/text.h"
#include "trust/encoding.h"
#include "trust/manifest_policy.h"
#include "trust/signed_manifest.h"
#include "trust/timestamp.h"

namespace mb {

namespace {

constexpr const char* kTrustedKeysValue = "TrustedKeys";
constexpr const char* kSignedKey = "SIGNED";
constexpr const char* kSignedAheadKey = "SIGNED_AHEAD";
// More than a hundred keys; a value beyond this is refused, not cut.
constexpr std::uint32_t kMaxTrustText = 64 * 1024;
constexpr std::size_t kSha256HexDigits = 64;
constexpr std::size_t kMaxLengthDigits = 18;

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

// The fixed word a report gives for a refusal (agent/reports.h).
std::string RefusalWord(trust::Refusal refusal) {
  switch (refusal) {
    case trust::Refusal::kNoSignature:
      return "no-signature";
    case trust::Refusal::kUnknownKey:
      return "unknown-key";
    case trust::Refusal::kExpired:
    case trust::Refusal::kRootExpired:
      return "expired";
    case trust::Refusal::kOlderThanAccepted:
      return "older";
    case trust::Refusal::kInvalid:
    case trust::Refusal::kNone:
      break;
  }
  return "invalid";
}

// KEY_ID of a signed manifest; empty when it names none.
std::string KeyIdOf(const std::string& manifest) {
  const trust::EnvelopeRead read = trust::ReadEnvelope(manifest);
  if (read.status != trust::EnvelopeStatus::kSigned) return "";
  return read.envelope.Field(trust::kKeyIdField).value_or("");
}

// A LENGTH: decimal digits only, so "", "-1", "1e3" and " 5" are none.
std::optional<std::int64_t> ParseLength(const std::string& text) {
  if (text.empty() || text.size() > kMaxLengthDigits) return std::nullopt;
  std::int64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

TrustValue ReadTrustValue(platform::Registry& reg, const platform::CodePage& cp, const char* name) {
  TrustValue out;
  platform::RegKey key = 0;
  if (reg.OpenKey(platform::kHkeyCurrentUser, cp.ToAnsi(kProductKey), platform::kAgentKeyAccess,
                  &key) != 0)
    return out;
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  long rc = reg.QueryValue(key, name, &type, nullptr, &size);
  std::string data;
  if (rc == 0 && size <= kMaxTrustText) {
    data.resize(size);
    rc = reg.QueryValue(key, name, &type, reinterpret_cast<std::uint8_t*>(data.data()), &size);
    data.resize(std::min<std::size_t>(size, data.size()));
  }
  reg.CloseKey(key);
  if (rc == platform::kErrorFileNotFound) return out;
  out.given = true;
  if (rc != 0 || size > kMaxTrustText) {
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

void frmTray::LoadTrustedKeys() {
  keys_ = trust::KeyRing();
  root_.reset();
  root_problem_.clear();
  if (LoadRootOfTrust()) return;
  const std::string built = BuildTrustedKeys();
  const TrustValue given = ReadTrustValue(*p_.registry, *p_.codepage, kTrustedKeysValue);
  if (built.empty() && !given.given) return;
  if (p_.crypto == nullptr) {
    keys_.AddUnusable("this program has no cryptography for signed releases");
    return;
  }
  keys_.AddText(built, "built-in keys", *p_.crypto);
  if (!given.given) return;
  // A value that names no key ("", " ", ";", an empty REG_MULTI_SZ) is a
  // list that went wrong, not a wish to check nothing.
  if (!given.problem.empty()) {
    keys_.AddUnusable(std::string(kTrustedKeysValue) + ": " + given.problem);
  } else if (keys_.AddText(given.text, kTrustedKeysValue, *p_.crypto) == 0) {
    keys_.AddUnusable(std::string(kTrustedKeysValue) + ": the value names no key");
  }
  WarnAboutUnusableKeys();
}

// An entry that cannot be used (a typo, a PEM pasted with its BEGIN line)
// beside a good key would be silent until the good key is retired: it is
// said at once, in the log and on the POSIX failure line, before any
// refusal, and again only when it changes.
void frmTray::WarnAboutUnusableKeys() {
  if (keys_.Problems().empty()) return;
  std::string problems;
  for (const std::string& problem : keys_.Problems()) {
    problems += (problems.empty() ? "" : "; ") + problem;
  }
  const std::string line = "trusted keys that cannot be used: " + problems;
  if (logged_notes_["unusable keys"] == line) return;
  LogOnce("unusable keys", line);
  p_.net->NoteProblem("trusted keys that cannot be used", problems);
}

bool frmTray::ManifestTrusted(std::int16_t kind) {
  const auto names = ini::NamesFor(kind);
  if (!keys_.Active() || !names) return true;
  const std::string path = state_.UpdateDir + "\\" + names->ManifestFile;
  // No manifest lists no file: nothing is fetched or installed, as the
  // design has it.
  if (!p_.fs->IsOrdinaryFile(path)) return true;
  trust::Verdict verdict;
  trust::Expectation expect;
  try {
    const std::string bytes = ReadManifestBytes(*p_.fs, path);
    if (p_.crypto == nullptr) throw Error(0, "no cryptography to check it with");
    if (root_) RefreshRoot(KeyIdOf(bytes));
    expect = ExpectationFor(kind, path);
    verdict = root_problem_.empty()
                  ? trust::JudgeManifest(bytes, keys_, expect, *p_.crypto)
                  : trust::Verdict{trust::Refusal::kRootExpired, root_problem_, 0};
  } catch (const std::exception& e) {
    verdict = {trust::Refusal::kInvalid, std::string("cannot check it: ") + e.what(), 0};
  }
  if (!verdict.Accepted()) {
    Refuse(kind, manifest_urls_[kind], ComponentTitle(kind), verdict.reason);
    NoteRefusedRelease(kind, expect.release, RefusalWord(verdict.refusal));
    return false;
  }
  if (verdict.standing == trust::Standing::kNewest)
    RememberAccepted(kind, verdict.signed_at, expect);
  logged_refusal_.erase(kind);
  return true;
}

// What the manifest at `path` is judged against: this component's names,
// the clock, what was accepted and what is installed, releases compared as
// the version check compares them.
trust::Expectation frmTray::ExpectationFor(std::int16_t kind, const std::string& path) {
  const auto names = ini::NamesFor(kind);
  trust::Expectation expect;
  expect.components = SignedComponentNames(kind);
  expect.now = p_.process->UtcNow();
  expect.accepted = AcceptedRelease(kind);
  expect.release =
      text::TrimTrailingSpaces(GetVal(ini::kDownloadSection, ini::kLastVersionKey, path));
  expect.installed = text::TrimTrailingSpaces(
      GetVal(names->ComponentSection, ini::kInstallVersionKey, state_.InstallIniPath));
  return expect;
}

bool frmTray::SignedDigestFits(std::int16_t kind, const FileRecord& r, const std::string& sha256) {
  if (!keys_.Active()) return true;
  if (!trust::IsLowerHex(r.Sha256, kSha256HexDigits)) {
    Refuse(kind, r.DownloadUrl, r.Name + " of " + ComponentTitle(kind),
           "the signed manifest gives no SHA-256 for it");
    NoteRefusedRelease(kind, r.LastVersion, "sha256");
    return false;
  }
  if (sha256 != r.Sha256) {
    Refuse(kind, r.DownloadUrl, r.Name + " of " + ComponentTitle(kind),
           "its SHA-256 is not the signed one");
    NoteRefusedRelease(kind, r.LastVersion, "sha256");
    return false;
  }
  return true;
}

// The most a listed file may bring, kept bytes of a cut transfer included:
// its signed LENGTH, else what any release file may. Nothing when the
// signed manifest gives a LENGTH that is no length (the file is refused).
std::optional<std::int64_t> frmTray::FileCap(std::int16_t kind, const FileRecord& r) {
  if (!keys_.Active() || r.Length.empty()) return kFileTransferCap;
  const std::optional<std::int64_t> length = ParseLength(r.Length);
  if (!length || *length > kFileTransferCap) {
    Refuse(kind, r.DownloadUrl, r.Name + " of " + ComponentTitle(kind),
           "the signed manifest gives no usable LENGTH for it");
    NoteRefusedRelease(kind, r.LastVersion, "length");
    return std::nullopt;
  }
  return length;
}

// What a manifest of this component may be signed for: the component's
// folder, and for the add-in also the folder of this Outlook's version.
std::vector<std::string> frmTray::SignedComponentNames(std::int16_t kind) {
  if (kind == kOutlookAddin) return {"outlook", "outlook/" + OutlookVersionLabel()};
  if (kind == kExpressPlugin) return {"express"};
  return {"agent"};
}

// The newest accepted: the record on disk, or the one this agent kept in
// memory when it is newer (a file that cannot be written still refuses a
// step back for as long as the agent runs).
std::optional<trust::AcceptedRelease> frmTray::AcceptedRelease(std::int16_t kind) {
  std::optional<trust::AcceptedRelease> newest;
  const std::string section = ini::NamesFor(kind)->ComponentSection;
  const std::string path = AcceptedSignaturesPath();
  if (const std::optional<std::int64_t> t =
          trust::ParseUtcTime(GetVal(section, kSignedKey, path))) {
    newest = trust::AcceptedRelease{*t, std::nullopt};
    std::string release = text::TrimTrailingSpaces(GetVal(section, ini::kLastVersionKey, path));
    if (!release.empty()) newest->release = std::move(release);
  }
  const auto it = accepted_.find(kind);
  if (it != accepted_.end() && (!newest || it->second.signed_at >= newest->signed_at))
    newest = it->second;
  return newest;
}

// Kept with the floor the clock allows. A signature dated further ahead
// is said once in the log; the time it claimed is kept beside the floor
// (SIGNED_AHEAD), so a restart does not say it again.
void frmTray::RememberAccepted(std::int16_t kind, std::int64_t signed_at,
                               const trust::Expectation& expect) {
  const trust::AcceptedRelease kept{trust::KeptFloor(signed_at, expect.now), expect.release};
  accepted_[kind] = kept;
  const std::string section = ini::NamesFor(kind)->ComponentSection;
  const std::string path = AcceptedSignaturesPath();
  PutVal(section, kSignedKey, trust::FormatUtcTime(kept.signed_at), path);
  PutVal(section, ini::kLastVersionKey, expect.release, path);
  const std::string claimed = signed_at > kept.signed_at ? trust::FormatUtcTime(signed_at) : "";
  if (GetVal(section, kSignedAheadKey, path) == claimed) return;
  PutVal(section, kSignedAheadKey, claimed, path);
  if (claimed.empty()) return;
  WriteLogLine(std::string("accepted ") + ini::NamesFor(kind)->ManifestFile + " signed " + claimed +
               ", after this machine's clock and a day; kept as signed " +
               trust::FormatUtcTime(kept.signed_at));
}

// The accepted signing times start over (the release keys changed): the
// new keys have signed nothing before.
void frmTray::ForgetAccepted() {
  accepted_.clear();
  for (const std::int16_t kind : {kOutlookAddin, kExpressPlugin, kAgentComponent}) {
    const std::string section = ini::NamesFor(kind)->ComponentSection;
    if (GetVal(section, kSignedKey, AcceptedSignaturesPath()).empty()) continue;
    PutVal(section, kSignedKey, "", AcceptedSignaturesPath());
    PutVal(section, ini::kLastVersionKey, "", AcceptedSignaturesPath());
  }
}

// From the install directory, as the log's path is: the keys of a run are
// loaded before its working paths are fixed.
std::string frmTray::AcceptedSignaturesPath() {
  return InstallDir() + "\\update\\" + files::kAcceptedSignatures;
}

void frmTray::Refuse(std::int16_t kind, const std::string& url, const std::string& what,
                     const std::string& reason) {
  refused_ = true;
  std::string line = "refused " + what + ": " + reason;
  for (const std::string& problem : keys_.Problems()) line += " [" + problem + "]";
  if (logged_refusal_[kind] != line) {
    logged_refusal_[kind] = line;
    WriteLogLine(line);
  }
  p_.net->NoteRefused(url.empty() ? what : url, reason);
}

// A line of the trust check's own, written once while it stays the same.
void frmTray::LogOnce(const std::string& topic, const std::string& line) {
  std::string& last = logged_notes_[topic];
  if (last == line) return;
  last = line;
  WriteLogLine(line);
}

void frmTray::WriteLogLine(const std::string& line) {
  try {
    WriteUpdateLog(line);
  } catch (const std::exception&) {
    // The verdict stands; a log that cannot be written changes nothing.
  }
}

}  // namespace mb
