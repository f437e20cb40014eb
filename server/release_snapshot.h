// Every answer of a release folder, made once when the folder changes
// rather than on every request: the pause state, the notices, and per
// server folder (ORG, MIRROR), component and Outlook version sub-folder the
// manifest and each published file under its encoded "program" value.
// A snapshot never changes once built; answers are shared by every request
// that reads it, so a manifest and the files served beside it always come
// from the same moment of the folder.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/ansi_code_page.h"
#include "server/published_bytes.h"
#include "server/release_folder.h"

namespace mb::server {

// How long caches may keep answers (Cache-Control: max-age), in seconds.
struct CachePolicy {
  int text_max_age = 2;   // pause state, manifests, notices, refusals
  int file_max_age = 60;  // the release files
};

struct Answer {
  int status = 200;
  std::string content_type = "text/plain";
  std::string body;                            // the answer, unless file is set
  std::shared_ptr<const PublishedBytes> file;  // a release file
  std::string etag;                            // quoted, strong
  std::time_t last_modified = 0;
  int max_age = 0;
  bool manifest = false;
  std::string file_name;  // a release file's published name (UTF-8)
};

// One component as one kind of agent sees it.
struct ComponentRelease {
  Answer manifest;                      // 500 when the component cannot be published
  std::map<std::string, Answer> files;  // by "program" value
  std::string last_version;             // as published; empty when it is not
  std::optional<int> rollout;           // ROLLOUT, when the release is staged
  std::filesystem::path folder;         // where it lives
  std::string name;                     // what a signature names: "express", "outlook/2003"
};

// kServe: a component with a signature.ini is served signed (or refused when
// the signature no longer fits); kForSigning: every manifest is made as a
// signed one will be (each file's SHA-256 included), without a signature,
// for `mailbeacon-server sign`.
enum class SignatureMode { kServe, kForSigning };

class ReleaseSnapshot {
 public:
  // Reads the whole folder; what cannot be published goes to Warnings().
  static std::shared_ptr<const ReleaseSnapshot> Build(const ReleaseFolder& release,
                                                      const AnsiCodePage& cp,
                                                      const CachePolicy& policy,
                                                      SignatureMode mode = SignatureMode::kServe);
  // One component folder, dir, as the server would serve it at folder/c
  // (an Outlook add-in's version folders too): a release checked before it
  // is put there. Components() holds it under the keys it would have.
  static std::shared_ptr<const ReleaseSnapshot> BuildComponent(const std::filesystem::path& dir,
                                                               const std::string& folder,
                                                               Component c, const AnsiCodePage& cp,
                                                               const CachePolicy& policy);

  const Answer& Pause() const { return pause_; }
  // The notice of "ORG" or "MIRROR", if there is one.
  const Answer* Notice(const std::string& folder) const;
  // The component's release for an agent that sends this version label;
  // nothing when the folder has no such component.
  const ComponentRelease* Find(Component c, const std::string& folder,
                               const std::string& version) const;
  // Findings for the log: files left out, components refused, pause state.
  const std::vector<std::string>& Warnings() const { return warnings_; }
  // When the snapshot was made (the server's clock).
  std::chrono::system_clock::time_point BuiltAt() const { return built_at_; }

  // Everything there is, for the static export: key "ORG/outlook/2003" or
  // "ORG/express" (no label: the component folder itself).
  const std::map<std::string, ComponentRelease>& Components() const { return components_; }
  const std::map<std::string, Answer>& Notices() const { return notices_; }
  // The roots of trust of keys/ by version (server/published_roots.h).
  const std::map<int, Answer>& Roots() const { return roots_; }
  const Answer* Root(int version) const;
  // What the generic add-in's signature says it is not for: every Outlook
  // version with a folder of its own, in ORG or MIRROR ("outlook/2003,...").
  const std::string& NotForGenericAddin() const { return not_for_generic_; }

 private:
  void AddPause(const ReleaseFolder& release, const CachePolicy& policy);
  void AddRoots(const ReleaseFolder& release, const CachePolicy& policy);
  void AddNotice(const ReleaseFolder& release, const CachePolicy& policy,
                 const std::string& folder);
  void AddComponent(const std::filesystem::path& dir, const AnsiCodePage& cp,
                    const CachePolicy& policy, const std::string& folder, Component c,
                    std::uint64_t& memory_budget);
  bool AddFolder(const std::filesystem::path& dir, const std::string& key, const std::string& name,
                 const AnsiCodePage& cp, const CachePolicy& policy, std::uint64_t& memory_budget);

  std::chrono::system_clock::time_point built_at_;
  Answer pause_;
  std::map<std::string, Answer> notices_;  // by folder
  std::map<std::string, ComponentRelease> components_;
  std::map<int, Answer> roots_;
  std::string not_for_generic_;
  std::vector<std::string> warnings_;
  SignatureMode mode_ = SignatureMode::kServe;
};

// "ORG/outlook" or "ORG/outlook/2003".
std::string ComponentKey(const std::string& folder, Component c, const std::string& label = "");

// A version label that can name a sub-folder and travel unescaped in a
// query: letters, digits, ".", "_" and "-".
bool IsVersionLabel(const std::string& label);

}  // namespace mb::server
