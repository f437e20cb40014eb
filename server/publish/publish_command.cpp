#include "server/publish/publish_command.h"

#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>

#include "server/command_line.h"
#include "server/log_text.h"
#include "server/publish/folder_swap.h"
#include "server/publish/release_check.h"

namespace mb::server {
namespace fs = std::filesystem;
namespace {

struct PublishOptions {
  std::string root;
  std::string component;  // "ORG/express"
  std::string release;
  int code_page = 949;
};

std::optional<PublishOptions> Parse(const std::vector<std::string>& args, std::string& error) {
  PublishOptions o;
  std::map<std::string, std::string*> texts = {
      {"--root", &o.root}, {"--component", &o.component}, {"--release", &o.release}};
  for (std::size_t i = 0; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) {
      error = "missing value for " + args[i];
      return std::nullopt;
    }
    if (texts.count(args[i])) {
      *texts[args[i]] = args[i + 1];
    } else if (std::optional<int> n = ParseNonNegative(args[i + 1]); args[i] == "--codepage" && n) {
      o.code_page = *n;
    } else {
      error = "unknown option or bad value: " + args[i];
      return std::nullopt;
    }
  }
  if (o.root.empty() || o.component.empty() || o.release.empty())
    error = "publish needs --root, --component and --release";
  if (!error.empty()) return std::nullopt;
  return o;
}

std::optional<PublishPlace> PlaceOf(const PublishOptions& o) {
  for (const char* folder : {"ORG", "MIRROR"}) {
    for (Component c : {Component::kOutlook, Component::kExpress, Component::kAgent}) {
      PublishPlace place{fs::absolute(o.root).lexically_normal(), folder, c};
      if (place.Name() == o.component) return place;
    }
  }
  return std::nullopt;
}

fs::path ReleaseFolderOf(const std::string& path) {
  std::error_code ec;
  fs::path release = fs::canonical(path, ec);
  if (ec || !fs::is_directory(release, ec))
    throw std::runtime_error("--release " + path + " is not a folder");
  return release;
}

// Where target leads now, when it is there.
std::optional<fs::path> Current(const fs::path& target) {
  std::error_code ec;
  fs::path now = fs::canonical(target, ec);
  if (ec) return std::nullopt;
  return now;
}

bool Inside(const fs::path& path, const fs::path& folder) {
  const auto [end, unused] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
  return end == folder.end();
}

void SayKept(const PublishPlace& place, const fs::path& kept, std::ostream& out) {
  std::error_code ec;
  out << "The release it replaced stays: " << kept.string() << " leads to "
      << fs::read_symlink(kept, ec).string()
      << ". Publishing it again is the way back (a signed one: sign it again first):\n"
      << "  mailbeacon-server publish --root " << place.root.string() << " --component "
      << place.Name() << " --release " << kept.string() << "\n";
}

int Publish(const PublishOptions& o, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  if (!fs::is_directory(o.root, ec))
    throw std::runtime_error("--root " + o.root + " is not a folder");
  const std::optional<PublishPlace> place = PlaceOf(o);
  if (!place)
    throw std::invalid_argument(
        "--component takes ORG or MIRROR, then outlook, express or agent "
        "(ORG/express)");
  const fs::path release = ReleaseFolderOf(o.release);
  const fs::path target = place->Target();
  if (Current(target) == release) {
    out << place->Name() << " is " << release.string() << " already; nothing changed\n";
    return 0;
  }
  if (!fs::is_symlink(target, ec) && Inside(release, fs::weakly_canonical(target, ec)))
    throw std::runtime_error(release.string() + " lies inside " + target.string() +
                             ", the folder it would replace");
  const ReleaseCheck check = CheckRelease(release, *place, o.code_page);
  for (const std::string& w : check.warnings)
    err << "warning: " << LogText(w, LogEscape::kVendorText, 4096) << "\n";
  if (!check.problems.empty()) {
    for (const std::string& p : check.problems) err << "not published: " << p << "\n";
    return 1;
  }
  fs::create_directories(target.parent_path());
  const SwapResult swap = PutInPlace(release, target);
  out << "published " << release.string() << " as " << place->Name() << " of "
      << place->root.string() << " (" << check.summary << ", code page " << o.code_page << ")\n";
  if (!swap.in_one_step)
    err << "warning: this file system cannot exchange two names in one step: " << place->Name()
        << " was missing for a moment (agents that asked then try again)\n";
  if (swap.kept) SayKept(*place, *swap.kept, out);
  out << "mailbeacon-server serves it within half a second (SIGHUP: at once); for a static "
         "export, run mailbeacon-server export again.\n";
  return 0;
}

}  // namespace

const char* const kPublishUsage =
    "usage: mailbeacon-server publish --root ROOT --component FOLDER/COMPONENT\n"
    "                         --release DIR [--codepage N]\n"
    "Puts the component folder DIR in place as ROOT/FOLDER/COMPONENT (FOLDER: ORG or\n"
    "MIRROR; COMPONENT: outlook, express or agent) in one step, after checking it as\n"
    "the server would serve it there (names, install targets, the signature's fit\n"
    "under --codepage, default 949). ROOT/FOLDER/COMPONENT becomes a link to DIR;\n"
    "what it was (a folder or a link) is kept, named by COMPONENT.previous beside it:\n"
    "publishing that again is the way back.\n";

int RunPublish(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string error;
  std::optional<PublishOptions> options = Parse(args, error);
  if (!options) {
    err << "mailbeacon-server publish: " << error << "\n";
    return 2;
  }
  try {
    return Publish(*options, out, err);
  } catch (const std::invalid_argument& e) {
    err << "mailbeacon-server publish: " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    err << "mailbeacon-server publish: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace mb::server
