// The root of trust, the agent's side (trust/root.h). An agent pinned to a
// root - the registry value TrustedRoot (root 1's text in base64), else the
// one built in (-DMB_TRUSTED_ROOT) - trusts the release keys of the newest
// root it has verified, and no others: TrustedKeys and the built-in keys
// are then not used, so a key the vendor takes back through a new root is
// trusted nowhere. The newest root is kept in the update folder
// (trusted_root.ini) beside what accepted_signatures.ini says of it:
//
//   [ROOT]
//   PINNED=0123456789abcdef      the id of the pinned root it descends from
//   CHECKED=2026-12-07T10:00:00Z when the server was last asked for a newer root
//   RELEASE_KEYS=<ids>           the release keys the accepted times belong to
//
// Root N+1, N+2, ... are asked for (<VirtualDir>/download/root.aspx?version=N)
// when a manifest names a key this agent does not know, and otherwise at
// most once a day. A root that does not follow is refused with its reason
// in the log, and the agent goes on with the root it has. When the release
// keys change, the accepted signing times start over: the new keys signed
// nothing before, and a floor set by a stolen key must not outlive it.
#include "agent/bas_win_api.h"
#include "agent/build_trusted_keys.h"
#include "agent/frm_tray.h"
#include "agent/trust_values.h"
#include "planning/transfer_limits.h"
#include "rules/agent_files.h"
#include "trust/encoding.h"
#include "trust/timestamp.h"

namespace mb {

namespace {

constexpr const char* kTrustedRootValue = "TrustedRoot";
constexpr const char* kRootSection = "ROOT";
constexpr const char* kPinnedKey = "PINNED";
constexpr const char* kCheckedKey = "CHECKED";
constexpr const char* kReleaseKeysKey = "RELEASE_KEYS";
// Far more roots than a vendor makes in a lifetime; a server that hands out
// more in one go is not followed further.
constexpr int kMaxRootSteps = 64;
constexpr std::int64_t kRootTextCap = std::int64_t{64} * 1024;

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The pinned root's text, or why there is none that can be used.
struct PinnedText {
  std::string text;
  std::string origin;
  std::string problem;
};

PinnedText PinnedRootText(const TrustValue& given) {
  if (!given.given) return {BuildTrustedRoot(), "built-in root", ""};
  if (!given.problem.empty()) return {"", kTrustedRootValue, given.problem};
  const std::string base64 = Trimmed(given.text);
  if (base64.empty()) return {"", kTrustedRootValue, "the value holds no root"};
  std::optional<std::string> text = trust::Base64Decode(base64);
  if (!text) return {"", kTrustedRootValue, "the value is not the base64 of a root"};
  return {std::move(*text), kTrustedRootValue, ""};
}

std::string ReadSmallFile(platform::FileSystem& fs, const std::string& path) {
  auto file = fs.OpenRead(path);
  std::string bytes;
  char buffer[16 * 1024];
  while (const std::size_t n = file->Read(buffer, sizeof buffer)) {
    bytes.append(buffer, n);
    if (bytes.size() > static_cast<std::size_t>(kRootTextCap))
      throw Error(kErrPastEndOfFile, "a root over its size limit");
  }
  return bytes;
}

std::string KeyIds(const trust::Root& root) {
  std::string ids;
  for (const trust::TrustedKey& key : root.release_keys) ids += (ids.empty() ? "" : " ") + key.id;
  return ids;
}

}  // namespace

// True when a root is pinned: the release keys then come from it alone.
bool frmTray::LoadRootOfTrust() {
  const TrustValue given = ReadTrustValue(*p_.registry, *p_.codepage, kTrustedRootValue);
  PinnedText pinned = PinnedRootText(given);
  if (!given.given && pinned.text.empty()) return false;
  if (p_.crypto == nullptr) pinned.problem = "this program has no cryptography for signed releases";
  trust::RootRead read;
  if (pinned.problem.empty()) read = trust::PinnedRoot(pinned.text, *p_.crypto);
  if (!read.root) {
    // A root that went wrong never turns the check off: nothing is trusted.
    keys_.AddUnusable(pinned.origin + ": " +
                      (pinned.problem.empty() ? read.problem : pinned.problem));
    return true;
  }
  pinned_root_id_ = trust::KeyId(pinned.text, *p_.crypto);
  TrustRoot(StoredRoot(*read.root).value_or(*read.root));
  return true;
}

// The newer root this installation verified before, when it descends from
// the same pinned root and still holds its own signatures.
std::optional<trust::Root> frmTray::StoredRoot(const trust::Root& pinned) {
  try {
    const std::string path = RootFilePath(files::kTrustedRoot);
    if (GetVal(kRootSection, kPinnedKey, AcceptedSignaturesPath()) != pinned_root_id_ ||
        !p_.fs->IsOrdinaryFile(path))
      return std::nullopt;
    trust::RootRead stored = trust::PinnedRoot(ReadSmallFile(*p_.fs, path), *p_.crypto);
    if (stored.root && stored.root->version > pinned.version) return stored.root;
  } catch (const std::exception&) {
    // read as if there were none: the walk finds it again
  }
  return std::nullopt;
}

// The release keys of `root` become the keys of this run; when they are
// not those the accepted signing times belong to, the times start over.
void frmTray::TrustRoot(const trust::Root& root) {
  root_ = root;
  keys_ = trust::KeyRing();
  for (const trust::TrustedKey& key : root.release_keys) keys_.Add(key);
  root_problem_ = trust::Expired(root, p_.process->UtcNow());
  const std::string ids = KeyIds(root);
  const std::string kept = GetVal(kRootSection, kReleaseKeysKey, AcceptedSignaturesPath());
  if (kept == ids) return;
  if (!kept.empty()) {
    ForgetAccepted();
    LogOnce("root keys", "root " + std::to_string(root.version) +
                             " names other release keys: the accepted signing times start over");
  }
  PutVal(kRootSection, kReleaseKeysKey, ids, AcceptedSignaturesPath());
}

// Asks for newer roots when the manifest names a key this agent does not
// know (once per key while it runs), and otherwise at most once a day.
void frmTray::RefreshRoot(const std::string& key_id) {
  const bool unknown =
      !key_id.empty() && keys_.Find(key_id) == nullptr && walked_for_.insert(key_id).second;
  if (unknown || RootCheckDue()) WalkRoots();
}

bool frmTray::RootCheckDue() {
  const std::optional<std::int64_t> checked =
      trust::ParseUtcTime(GetVal(kRootSection, kCheckedKey, AcceptedSignaturesPath()));
  const std::int64_t now = p_.process->UtcNow();
  // A check dated ahead of the clock (the clock was put back) is no check.
  return !checked || now - *checked >= trust::kClockAllowanceSeconds || *checked > now;
}

// Follows the roots after the one trusted, each checked against the one
// before it. The newest that has not expired is taken (one that expired on
// the way is passed through) and kept in the update folder.
void frmTray::WalkRoots() {
  const std::int64_t now = p_.process->UtcNow();
  PutVal(kRootSection, kCheckedKey, trust::FormatUtcTime(now), AcceptedSignaturesPath());
  trust::Root current = *root_;
  std::optional<trust::Root> taken;
  for (int step = 0; step < kMaxRootSteps; ++step) {
    const int version = current.version + 1;
    const std::optional<std::string> text = FetchRoot(version);
    if (!text) break;
    trust::RootRead next = trust::NextRoot(*text, current, *p_.crypto);
    const std::string what = "refused root.aspx?version=" + std::to_string(version) + ": ";
    if (!next.root) {
      LogOnce("root", what + next.problem);
      break;
    }
    current = std::move(*next.root);
    if (!trust::Expired(current, now).empty()) continue;
    try {
      p_.fs->Rename(RootFilePath(files::kNextRoot), RootFilePath(files::kTrustedRoot));
      PutVal(kRootSection, kPinnedKey, pinned_root_id_, AcceptedSignaturesPath());
      taken = current;
    } catch (const std::exception&) {
      break;  // kept nowhere: taken at the next walk
    }
  }
  if (current.version > (taken ? taken->version : root_->version) &&
      !trust::Expired(current, now).empty())
    LogOnce("root", "refused root.aspx?version=" + std::to_string(current.version) + ": " +
                        trust::Expired(current, now));
  try {
    if (p_.fs->IsOrdinaryFile(RootFilePath(files::kNextRoot)))
      p_.fs->DeleteFile(RootFilePath(files::kNextRoot));
  } catch (const std::exception&) {
    // a leftover the next walk replaces
  }
  if (!taken) return;
  LogOnce("root taken", "trusting root " + std::to_string(taken->version) + ", release keys " +
                            KeyIds(*taken));
  TrustRoot(*taken);
}

// The text of root `version` from the server; nothing when there is none
// (404: no newer root) or it cannot be fetched.
std::optional<std::string> frmTray::FetchRoot(int version) {
  const std::string url = state_.ServerUrl + state_.VirtualDir +
                          "/download/root.aspx?version=" + std::to_string(version);
  platform::DownloadOptions options = TextTransfer();
  options.max_bytes = kRootTextCap;
  options.not_found_is_an_answer = true;
  try {
    const std::string path = RootFilePath(files::kNextRoot);
    if (!basWinAPI::DownloadFile(p_, url, path, options)) return std::nullopt;
    return ReadSmallFile(*p_.fs, path);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string frmTray::RootFilePath(const char* name) { return InstallDir() + "\\update\\" + name; }

}  // namespace mb
