#include "server/release_snapshot.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

#include "rules/ascii.h"
#include "rules/fleet_settings.h"
#include "server/install_targets.h"
#include "server/manifest.h"
#include "server/manifest_signature.h"
#include "server/published_roots.h"
#include "server/release_files.h"
#include "server/release_ini.h"
#include "server/release_read.h"
#include "support/md5.h"

namespace mb::server {
namespace fs = std::filesystem;
namespace {

constexpr const char* kFolders[] = {"ORG", "MIRROR"};
// Small release files are held in memory up to this much per snapshot (two
// snapshots live side by side while one replaces the other).
constexpr std::uint64_t kHeldBytesPerSnapshot = std::uint64_t{256} << 20;
constexpr Component kComponents[] = {Component::kOutlook, Component::kExpress, Component::kAgent};
constexpr int kFullShare = 100;  // the largest ROLLOUT

std::time_t ModifiedTime(const fs::path& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mtim.tv_sec : 0;
}

std::string Quoted(const std::string& digest) { return "\"" + digest + "\""; }

Answer TextAnswer(std::string body, std::time_t modified, const CachePolicy& policy) {
  Answer a;
  a.etag = Quoted(Md5HexOf(body));
  a.body = std::move(body);
  a.last_modified = modified;
  a.max_age = policy.text_max_age;
  return a;
}

// The line the agent reads: up to the first CR.
std::string FirstLine(const std::string& bytes) { return bytes.substr(0, bytes.find('\r')); }

Answer RefusedComponent(const CachePolicy& policy) {
  Answer a;
  a.status = 500;
  a.body = "Internal Server Error";
  a.max_age = policy.text_max_age;
  return a;
}

class ComponentBuilder {
 public:
  ComponentBuilder(const fs::path& dir, std::string name, std::string not_for,
                   const AnsiCodePage& cp, const CachePolicy& policy, std::uint64_t& memory_budget,
                   std::vector<std::string>& warnings, SignatureMode mode)
      : dir_(dir),
        name_(std::move(name)),
        not_for_(std::move(not_for)),
        cp_(cp),
        policy_(policy),
        memory_budget_(memory_budget),
        warnings_(warnings),
        mode_(mode) {}

  ComponentRelease Build() {
    ComponentRelease release = Unpublished();
    if (!ReadSignature()) return release;
    std::optional<formats::ProfileDocument> release_ini = Described("release.ini");
    if (!release_ini) return release;
    std::optional<std::string> last_version = LastVersion(*release_ini);
    if (!last_version) return release;
    std::optional<formats::ProfileDocument> files_ini = Described("files.ini");
    if (!files_ini) return release;
    std::vector<std::string> notes;
    std::vector<PublishedFile> files = ListPublishedFiles(dir_, *files_ini, *last_version, notes);
    for (const std::string& n : notes) Warn(n);
    std::string sections;
    int count = 0;
    std::time_t newest =
        std::max(ModifiedTime(dir_ / "release.ini"), ModifiedTime(dir_ / "files.ini"));
    std::vector<InstallTarget> targets;
    std::vector<std::string> problems;
    for (const PublishedFile& f : files) {
      for (std::string& p : ValuesAgentsWouldCut(f, cp_)) problems.push_back(std::move(p));
    }
    for (const PublishedFile& f : files) {
      std::optional<std::time_t> modified = Add(f, count + 1, sections, release.files);
      if (!modified) continue;
      ++count;
      newest = std::max(newest, *modified);
      targets.push_back({f.name, f.target_dir, f.org_name});
    }
    for (std::string& p : InstallTargetProblems(targets)) problems.push_back(std::move(p));
    const RolloutSetting rollout = ParseRollout(IniValue(*release_ini, "RELEASE", "ROLLOUT"));
    if (!rollout.problem.empty()) problems.push_back(rollout.problem);
    const std::optional<std::string> ansi_version = cp_.FromUtf8(*last_version);
    if (ansi_version && ansi_version->size() > kMaxIniValueBytes)
      problems.push_back("LAST_VERSION is longer than the " + std::to_string(kMaxIniValueBytes) +
                         " bytes agents read");
    std::optional<std::string> head = ManifestHead(count, *last_version, rollout.percent, cp_);
    if (!head)
      problems.push_back("LAST_VERSION has no form in code page " + std::to_string(cp_.Number()));
    std::string manifest = *head + sections;
    if (problems.empty() && signature_) {
      problems = Sign(manifest);
      if (!problems.empty() && manifest_no_longer_fits_)
        problems = RolloutChangedAfterSigning(count, *last_version, sections, rollout.percent)
                       .value_or(problems);
    }
    if (!problems.empty()) return Refused(problems);
    release.manifest = TextAnswer(std::move(manifest), newest, policy_);
    release.last_version = *last_version;
    release.rollout = rollout.percent;
    release.manifest.manifest = true;
    return release;
  }

 private:
  void Warn(const std::string& text) { warnings_.push_back(dir_.string() + ": " + text); }

  // A description file of the folder (missing: empty); nothing when it is
  // refused, and then neither is the component published.
  std::optional<formats::ProfileDocument> Described(const char* name) {
    std::string why;
    std::optional<formats::ProfileDocument> ini = ReadReleaseIni(dir_ / name, why);
    if (!ini)
      Warn(std::string(name) + ": " + why +
           "; component not published (its manifest "
           "answers 500)");
    return ini;
  }

  std::optional<std::string> LastVersion(const formats::ProfileDocument& ini) {
    std::optional<std::string> last_version = IniValue(ini, "RELEASE", "LAST_VERSION");
    if (last_version && !last_version->empty()) return last_version;
    Warn((dir_ / "release.ini").string() + ": no [RELEASE] LAST_VERSION, nothing published");
    return std::nullopt;
  }

  ComponentRelease Unpublished() const {
    ComponentRelease r;
    r.manifest = RefusedComponent(policy_);
    r.folder = dir_;
    r.name = name_;
    return r;
  }

  // Nothing of the component is served: its manifest answers 500.
  ComponentRelease Refused(const std::vector<std::string>& problems) {
    for (const std::string& p : problems) Warn(p);
    Warn("component not published (its manifest answers 500)");
    return Unpublished();
  }

  // The kept signature, when the component is served signed; false when it
  // is there but refused (and then neither is the component published).
  bool ReadSignature() {
    if (mode_ == SignatureMode::kForSigning) {
      with_sha256_ = with_lengths_ = true;
      return true;
    }
    ReleaseText text = ReadReleaseText(dir_ / kSignatureFile);
    if (!text.bytes && !text.refusal.empty()) {
      Refused({std::string(kSignatureFile) + ": " + text.refusal});
      return false;
    }
    signature_ = std::move(text.bytes);
    with_sha256_ = signature_.has_value();
    with_lengths_ = signature_ && SignsFileLengths(*signature_);
    return true;
  }

  // Puts the kept signature after the manifest, or says why it cannot be.
  std::vector<std::string> Sign(std::string& manifest) {
    SignedAnswer s =
        AttachSignature(manifest, *signature_, {name_, not_for_, cp_.Number(), UtcNow()});
    manifest_no_longer_fits_ = s.no_longer_fits;
    if (!s.manifest) return {s.problem};
    if (!s.warning.empty()) Warn(s.warning);
    manifest = std::move(*s.manifest);
    return {};
  }

  // ROLLOUT is signed with the rest of the manifest: a share raised in
  // release.ini after signing is named as what changed (the share the
  // signature holds for is found by trying each), not as changed files.
  std::optional<std::vector<std::string>> RolloutChangedAfterSigning(
      int count, const std::string& last_version, const std::string& sections,
      std::optional<int> now) const {
    std::vector<std::optional<int>> shares = {std::nullopt};
    for (int percent = 0; percent <= kFullShare; ++percent) shares.emplace_back(percent);
    const auto said = [](std::optional<int> p) {
      return p ? "ROLLOUT=" + std::to_string(*p) : std::string("no ROLLOUT");
    };
    for (const std::optional<int>& share : shares) {
      if (share == now) continue;
      std::optional<std::string> head = ManifestHead(count, last_version, share, cp_);
      if (!head ||
          !AttachSignature(*head + sections, *signature_, {name_, not_for_, cp_.Number(), UtcNow()})
               .manifest)
        continue;
      return std::vector<std::string>{
          "signature.ini no longer fits: release.ini's ROLLOUT changed after signing (signed "
          "with " +
          said(share) + ", now " + said(now) +
          "); ROLLOUT is part of the signed release, so a new share needs the release signed "
          "again"};
    }
    return std::nullopt;
  }

  // Opens, digests and encodes one file; its modification time, or nothing
  // (with the reason) when it is left out.
  std::optional<std::time_t> Add(const PublishedFile& f, int index, std::string& sections,
                                 std::map<std::string, Answer>& answers) {
    std::string why;
    std::shared_ptr<const PublishedBytes> bytes =
        PublishedBytes::Open(f.path, memory_budget_, why, with_sha256_);
    if (!bytes) {
      Warn(f.name + ": left out, " + why);
      return std::nullopt;
    }
    std::optional<std::string> program = EncodeProgramName(f.name, cp_);
    std::optional<std::string> section =
        ManifestFileSection(index, f, bytes->Md5Hex(), cp_, bytes->Sha256Hex(),
                            with_lengths_ ? std::optional(bytes->Size()) : std::nullopt);
    if (!program || !section) {
      Warn(f.name + ": left out, code page " + std::to_string(cp_.Number()) +
           " cannot hold its name or values");
      return std::nullopt;
    }
    sections += *section;
    Answer a;
    a.content_type = "application/octet-stream";
    a.etag = Quoted(bytes->Md5Hex());
    a.last_modified = bytes->ModifiedTime();
    a.max_age = policy_.file_max_age;
    a.file = std::move(bytes);
    a.file_name = f.name;
    std::time_t modified = a.last_modified;
    answers[*program] = std::move(a);
    return modified;
  }

  const fs::path& dir_;
  std::string name_;
  std::string not_for_;  // the generic add-in's NOT_FOR; empty for any other
  const AnsiCodePage& cp_;
  const CachePolicy& policy_;
  std::uint64_t& memory_budget_;
  std::vector<std::string>& warnings_;
  SignatureMode mode_;
  std::optional<std::string> signature_;  // signature.ini, when served signed
  bool with_sha256_ = false;
  bool manifest_no_longer_fits_ = false;  // what Sign found
  bool with_lengths_ = false;
};

}  // namespace

std::string ComponentKey(const std::string& folder, Component c, const std::string& label) {
  std::string key = folder + "/" + std::string(ComponentFolderName(c));
  return label.empty() ? key : key + "/" + label;
}

bool IsVersionLabel(const std::string& label) {
  if (label.empty() || label == "." || label == "..") return false;
  for (char c : label) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

namespace {

// A link that leads nowhere, as the vendor would want to hear of it.
std::optional<std::string> BrokenLink(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(path, ec)) || fs::exists(fs::status(path, ec)))
    return std::nullopt;
  return path.string() + ": a link that leads nowhere (to " + fs::read_symlink(path, ec).string() +
         "; a relative target is read from the link's own folder)";
}

void WarnAboutPause(const fs::path& root, const std::optional<std::string>& pause,
                    std::vector<std::string>& warnings) {
  if (!pause) return;
  std::string line = FirstLine(*pause);
  std::error_code ec;
  if (pause->empty()) {
    warnings.push_back(
        "pause.txt is empty: agents read no state from it, show an error and "
        "retry every 500 ms; write at least one letter");
  } else if (!line.empty() && line.find('N') == std::string::npos &&
             line.find('R') == std::string::npos && !fs::is_directory(root / "MIRROR", ec)) {
    warnings.push_back(
        "pause.txt selects the MIRROR folder (its first line holds neither N nor "
        "R), but there is no MIRROR folder: agents find nothing to install");
  }
  if (ascii::ToLower(line).find("poll") != std::string::npos) {
    warnings.push_back(
        "pause.txt: the first line (up to the first CR) holds POLL, which agents read only from "
        "the lines after it: end the state's line with CR LF");
  }
  const std::optional<std::string_view> poll = fleet::PauseSetting(*pause, "POLL");
  if (poll && !fleet::PollSeconds(*poll)) {
    warnings.push_back("pause.txt: POLL=" + std::string(*poll) +
                       " is not a whole number of seconds from 1 to 86400: agents ignore it and "
                       "ask again every 500 ms");
  }
}

// A release signed in part: agents with trusted keys refuse every component
// that is not, and agents without keys take it, so nothing else shows it.
void WarnAboutUnsigned(const std::map<std::string, ComponentRelease>& components,
                       std::vector<std::string>& warnings) {
  std::vector<std::string> unsigned_ones;
  bool any_signed = false;
  for (const auto& [where, c] : components) {
    if (c.manifest.status != 200) continue;
    const bool is_signed = c.manifest.body.find("\r\n[SIGNATURE]\r\n") != std::string::npos;
    any_signed = any_signed || is_signed;
    if (!is_signed) unsigned_ones.push_back(where);
  }
  if (!any_signed) return;
  for (const std::string& where : unsigned_ones)
    warnings.push_back(where +
                       ": not signed, while other components of this release are: agents with "
                       "trusted keys refuse it; sign the release");
}

// Every Outlook version with a folder of its own, in either server folder:
// "outlook/2000,outlook/2003" (labels in lower case, as they are matched).
std::string VersionFolders(const ReleaseFolder& release) {
  std::set<std::string> labels;
  std::error_code ec;
  for (const char* folder : kFolders) {
    const fs::path dir = release.Root() / folder / std::string(ComponentFolderName(Component::kOutlook));
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) {
      const std::string label = entry.path().filename().string();
      if (entry.is_directory(ec) && IsVersionLabel(label)) labels.insert(ascii::ToLower(label));
    }
  }
  std::string list;
  for (const std::string& label : labels) list += (list.empty() ? "outlook/" : ",outlook/") + label;
  return list;
}

}  // namespace

std::shared_ptr<const ReleaseSnapshot> ReleaseSnapshot::Build(const ReleaseFolder& release,
                                                              const AnsiCodePage& cp,
                                                              const CachePolicy& policy,
                                                              SignatureMode mode) {
  auto snapshot = std::make_shared<ReleaseSnapshot>();
  ReleaseSnapshot& s = *snapshot;
  s.built_at_ = std::chrono::system_clock::now();
  s.mode_ = mode;
  s.not_for_generic_ = VersionFolders(release);
  s.AddPause(release, policy);
  s.AddRoots(release, policy);
  std::uint64_t memory_budget = kHeldBytesPerSnapshot;
  for (const char* folder : kFolders) {
    if (std::optional<std::string> broken = BrokenLink(release.Root() / folder))
      s.warnings_.push_back(*broken);
    s.AddNotice(release, policy, folder);
    for (Component c : kComponents) {
      const fs::path dir = release.Root() / folder / std::string(ComponentFolderName(c));
      s.AddComponent(dir, cp, policy, folder, c, memory_budget);
    }
  }
  WarnAboutUnsigned(s.components_, s.warnings_);
  return snapshot;
}

std::shared_ptr<const ReleaseSnapshot> ReleaseSnapshot::BuildComponent(const fs::path& dir,
                                                                       const std::string& folder,
                                                                       Component c,
                                                                       const AnsiCodePage& cp,
                                                                       const CachePolicy& policy) {
  auto snapshot = std::make_shared<ReleaseSnapshot>();
  snapshot->built_at_ = std::chrono::system_clock::now();
  std::uint64_t memory_budget = kHeldBytesPerSnapshot;
  snapshot->AddComponent(dir, cp, policy, folder, c, memory_budget);
  return snapshot;
}

// Without a pause.txt agents get "N"; one the server refuses to read
// answers 500, so agents install nothing rather than everything.
void ReleaseSnapshot::AddPause(const ReleaseFolder& release, const CachePolicy& policy) {
  ReleaseText pause = ReadReleaseText(release.PauseFile());
  if (pause.bytes) {
    pause_ = TextAnswer(*pause.bytes, ModifiedTime(release.PauseFile()), policy);
  } else if (pause.refusal.empty()) {
    pause_ = TextAnswer("N", ModifiedTime(release.Root()), policy);
  } else {
    pause_ = RefusedComponent(policy);
    warnings_.push_back("pause.txt: " + pause.refusal +
                        "; pause.aspx answers 500 (agents install nothing) until it is a file");
  }
  WarnAboutPause(release.Root(), pause.bytes, warnings_);
}

void ReleaseSnapshot::AddRoots(const ReleaseFolder& release, const CachePolicy& policy) {
  for (auto& [version, root] : ReadPublishedRoots(release.Root() / "keys", warnings_))
    roots_[version] = TextAnswer(std::move(root.text), root.modified, policy);
}

const Answer* ReleaseSnapshot::Root(int version) const {
  const auto it = roots_.find(version);
  return it == roots_.end() ? nullptr : &it->second;
}

void ReleaseSnapshot::AddNotice(const ReleaseFolder& release, const CachePolicy& policy,
                                const std::string& folder) {
  std::optional<fs::path> notice = release.NoticeFile(folder);
  if (!notice) return;
  ReleaseText text = ReadReleaseText(*notice);
  if (text.bytes)
    notices_[folder] = TextAnswer(*text.bytes, ModifiedTime(*notice), policy);
  else if (!text.refusal.empty())
    warnings_.push_back(notice->string() + ": " + text.refusal + "; no notice for " + folder);
}

void ReleaseSnapshot::AddComponent(const fs::path& dir, const AnsiCodePage& cp,
                                   const CachePolicy& policy, const std::string& folder,
                                   Component c, std::uint64_t& memory_budget) {
  const std::string name(ComponentFolderName(c));
  if (!AddFolder(dir, ComponentKey(folder, c), name, cp, policy, memory_budget)) return;
  if (c != Component::kOutlook) return;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) {
    std::string label = entry.path().filename().string();
    bool dangling = entry.is_symlink(ec) && !fs::exists(entry.status(ec));
    if (!entry.is_directory(ec) && !dangling) continue;
    if (!IsVersionLabel(label)) {
      warnings_.push_back(entry.path().string() +
                          ": not published, a version folder's name holds only letters, digits, "
                          "\".\", \"_\" and \"-\"");
      continue;
    }
    // Labels match without regard to case, as the export's nginx does.
    std::string key = ComponentKey(folder, c, ascii::ToLower(label));
    if (components_.count(key)) {
      warnings_.push_back(entry.path().string() +
                          ": not published, another version folder has "
                          "the same name in another case");
      continue;
    }
    std::string version_name = name;
    version_name += '/';
    version_name += label;
    AddFolder(entry.path(), key, version_name, cp, policy, memory_budget);
  }
}

// A component or version folder; false when there is none. One that is
// meant to be there but is not (a link that leads nowhere) is refused.
bool ReleaseSnapshot::AddFolder(const fs::path& dir, const std::string& key,
                                const std::string& name, const AnsiCodePage& cp,
                                const CachePolicy& policy, std::uint64_t& memory_budget) {
  if (std::optional<std::string> broken = BrokenLink(dir)) {
    warnings_.push_back(*broken + "; not published (its manifest answers 500)");
    components_[key] = {RefusedComponent(policy), {}, {}, {}, dir, name};
    return false;
  }
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return false;
  std::string not_for = name == ComponentFolderName(Component::kOutlook) ? not_for_generic_ : "";
  components_[key] = ComponentBuilder(dir, name, std::move(not_for), cp, policy, memory_budget,
                                      warnings_, mode_)
                         .Build();
  return true;
}

const Answer* ReleaseSnapshot::Notice(const std::string& folder) const {
  auto it = notices_.find(folder);
  return it == notices_.end() ? nullptr : &it->second;
}

const ComponentRelease* ReleaseSnapshot::Find(Component c, const std::string& folder,
                                              const std::string& version) const {
  if (c == Component::kOutlook && IsVersionLabel(version)) {
    auto it = components_.find(ComponentKey(folder, c, ascii::ToLower(version)));
    if (it != components_.end()) return &it->second;
  }
  auto it = components_.find(ComponentKey(folder, c));
  return it == components_.end() ? nullptr : &it->second;
}

}  // namespace mb::server
