#include "server/publish/release_check.h"

#include <algorithm>
#include <set>

#include "rules/agent_files.h"
#include "server/export_files.h"
#include "server/manifest_signature.h"
#include "server/release_files.h"
#include "server/release_ini.h"
#include "server/release_read.h"
#include "server/release_snapshot.h"

namespace mb::server {
namespace fs = std::filesystem;
namespace {

constexpr const char* kSignatureSection = "\r\n[SIGNATURE]\r\n";
constexpr Component kComponents[] = {Component::kOutlook, Component::kExpress, Component::kAgent};

bool IsSigned(const ComponentRelease& c) {
  return c.manifest.body.find(kSignatureSection) != std::string::npos;
}

// SIGNED of a component folder's signature.ini, when it has one.
std::optional<std::string> SigningTime(const fs::path& dir) {
  ReleaseText text = ReadReleaseText(dir / kSignatureFile);
  if (!text.bytes) return std::nullopt;
  return IniValue(formats::ProfileDocument(*text.bytes), "SIGNATURE", "SIGNED");
}

// The files of a component folder that its manifest names, with what
// files.ini says of each (ORG_NAME above all).
std::vector<PublishedFile> ManifestFiles(const ComponentRelease& c) {
  std::string why;
  std::optional<formats::ProfileDocument> files_ini = ReadReleaseIni(c.folder / "files.ini", why);
  if (!files_ini) return {};
  std::vector<std::string> notes;  // the snapshot has said them already
  std::vector<PublishedFile> files =
      ListPublishedFiles(c.folder, *files_ini, c.last_version, notes);
  std::set<std::string> named;
  for (const auto& [program, answer] : c.files) named.insert(answer.file_name);
  std::erase_if(files, [&](const PublishedFile& f) { return named.count(f.name) == 0; });
  return files;
}

bool IsUpdatersOwn(const PublishedFile& f) {
  return f.name.find(files::kUpdaterNameMark) != std::string::npos;
}

// Why agents would never record this release as installed: they record a
// component when the updater applies the files handed to it, and hand it
// none of these (or, on a machine that has them all, fetch none).
std::optional<std::string> NeverRecorded(const std::vector<PublishedFile>& files) {
  const std::string consequence =
      ", so agents never record the release as installed (INSTALL_VERSION) and find it out of "
      "date on every run";
  if (files.empty()) return "it publishes no file" + consequence;
  if (std::all_of(files.begin(), files.end(), IsUpdatersOwn))
    return std::string("its only files are the updater's own (a NAME holding \"") +
           files::kUpdaterNameMark +
           "\"), which the agent installs itself: nothing is handed to the updater" + consequence +
           "; publish them beside a file for the updater (for the agent: Mailbeacon.exe under "
           "a NAME of its own)";
  if (std::none_of(files.begin(), files.end(), [](const PublishedFile& f) {
        return !IsUpdatersOwn(f) && f.name != f.org_name;
      }))
    return "every file for the updater is published under its own name (NAME = ORG_NAME), "
           "which agents fetch only where it is missing: on a machine that has them all nothing "
           "is fetched" +
           consequence +
           " there; publish a changed file under a NAME of its own (Mailbeacon_110.exe with "
           "ORG_NAME=Mailbeacon.exe)";
  return std::nullopt;
}

// Any component of the root, other than the one being replaced, signed.
bool RootHasSigned(const PublishPlace& place) {
  std::error_code ec;
  for (const char* folder : {"ORG", "MIRROR"}) {
    for (Component c : kComponents) {
      const fs::path dir = place.root / folder / std::string(ComponentFolderName(c));
      if (dir != place.Target() && fs::exists(dir / kSignatureFile, ec)) return true;
    }
  }
  return false;
}

void CheckSigning(const ComponentRelease& release, const PublishPlace& place, ReleaseCheck& check) {
  const std::optional<std::string> replaced = SigningTime(place.Target());
  if (!IsSigned(release)) {
    if (replaced || RootHasSigned(place))
      check.warnings.push_back(
          "the release is not signed, while the one it replaces or other components of " +
          place.root.string() +
          " are: agents with trusted keys refuse it; sign it before it is published");
    return;
  }
  const std::optional<std::string> signed_at = SigningTime(release.folder);
  if (replaced && signed_at && *signed_at < *replaced)
    check.warnings.push_back("the release was signed at " + *signed_at +
                             ", before the one it replaces (" + *replaced +
                             "): agents with trusted keys that took that one refuse this one as "
                             "older; to go back to it, sign it again first");
}

// Where the server as a service could not read it.
void CheckLocation(const fs::path& release, ReleaseCheck& check) {
  const std::string path = release.string() + "/";
  const std::pair<const char*, const char*> hidden[] = {{"/home/", "ProtectHome=yes"},
                                                        {"/root/", "ProtectHome=yes"},
                                                        {"/tmp/", "PrivateTmp=yes"},
                                                        {"/var/tmp/", "PrivateTmp=yes"}};
  for (const auto& [folder, setting] : hidden) {
    if (path.rfind(folder, 0) != 0) continue;
    check.warnings.push_back(release.string() + " lies under " + folder +
                             ", which the systemd unit of server/deploy hides from the server (" +
                             setting +
                             "): keep releases under /srv/mailbeacon, or the service refuses "
                             "the component (500)");
  }
  for (const std::string& closed : ClosedToOthers(release))
    check.warnings.push_back(closed +
                             " cannot be passed by other users (no o+x): the server running as "
                             "a user of its own (the systemd unit's mailbeacon) cannot read the "
                             "release");
}

std::string Summary(const ComponentRelease& main, std::size_t version_folders) {
  std::string text =
      "LAST_VERSION " + main.last_version + ", " + std::to_string(main.files.size()) + " files";
  if (version_folders > 0) text += ", " + std::to_string(version_folders) + " version folders";
  const std::optional<std::string> signed_at = SigningTime(main.folder);
  return text + (IsSigned(main) && signed_at ? ", signed at " + *signed_at : ", unsigned");
}

}  // namespace

std::string PublishPlace::Name() const {
  return folder + "/" + std::string(ComponentFolderName(component));
}

ReleaseCheck CheckRelease(const fs::path& release, const PublishPlace& place, int code_page) {
  ReleaseCheck check;
  const auto snapshot = ReleaseSnapshot::BuildComponent(release, place.folder, place.component,
                                                        AnsiCodePage(code_page), CachePolicy{});
  check.warnings = snapshot->Warnings();
  for (const auto& [where, c] : snapshot->Components()) {
    if (c.manifest.status != 200) {
      check.problems.push_back(where + " would not be served from " + c.folder.string() +
                               " (its manifest would answer 500; the warnings say why)");
    } else if (std::optional<std::string> why = NeverRecorded(ManifestFiles(c))) {
      check.warnings.push_back(c.folder.string() + ": " + *why);
    }
  }
  const auto main = snapshot->Components().find(place.Name());
  if (main == snapshot->Components().end()) {
    check.problems.push_back(release.string() + " is not a component folder");
    return check;
  }
  if (!check.problems.empty()) return check;
  CheckSigning(main->second, place, check);
  CheckLocation(release, check);
  check.summary = Summary(main->second, snapshot->Components().size() - 1);
  return check;
}

}  // namespace mb::server
