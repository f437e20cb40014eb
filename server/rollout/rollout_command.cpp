#include "server/rollout/rollout_command.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>

#include "rules/ascii.h"
#include "rules/fleet_settings.h"
#include "server/release_ini.h"
#include "server/rollout/rollout_file.h"
#include "trust/timestamp.h"

namespace mb::server {
namespace fs = std::filesystem;
namespace {

constexpr int kMaxReports = 1000000000;

struct RolloutOptions {
  std::string root;
  std::string component;
  std::optional<int> share;
  std::optional<int> halt_above;
  std::optional<int> halt_min;
  bool no_halt = false;

  bool Changes() const { return share || halt_above || halt_min || no_halt; }
};

std::optional<int> Number(const std::string& name, const std::string& value) {
  if (name == "--share") return fleet::RolloutShare(value);
  if (name == "--halt-above") return fleet::WholeNumberIn(value, 0, fleet::kFullRollout);
  return fleet::WholeNumberIn(value, 1, kMaxReports);
}

std::optional<std::string> Problem(const RolloutOptions& o) {
  if (o.root.empty()) return "rollout needs --root";
  if (o.Changes() && o.component.empty()) return "--share and the halting rule need --component";
  if (o.halt_above.has_value() != o.halt_min.has_value())
    return "--halt-above and --halt-min go together";
  if (o.no_halt && o.halt_above) return "--no-halt and --halt-above contradict each other";
  return std::nullopt;
}

std::optional<RolloutOptions> Parse(const std::vector<std::string>& args, std::string& error) {
  RolloutOptions o;
  std::map<std::string, std::string*> texts = {{"--root", &o.root}, {"--component", &o.component}};
  std::map<std::string, std::optional<int>*> numbers = {
      {"--share", &o.share}, {"--halt-above", &o.halt_above}, {"--halt-min", &o.halt_min}};
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--no-halt") {
      o.no_halt = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      error = "missing value for " + name;
      return std::nullopt;
    }
    const std::string& value = args[++i];
    if (texts.count(name)) {
      *texts[name] = value;
    } else if (numbers.count(name) && Number(name, value)) {
      *numbers[name] = Number(name, value);
    } else {
      error = "unknown option or bad value: " + name;
      error.append(" ").append(value).append(
          " (--share and --halt-above take 0 to 100, --halt-min 1 or more)");
      return std::nullopt;
    }
  }
  if (std::optional<std::string> problem = Problem(o)) {
    error = *problem;
    return std::nullopt;
  }
  return o;
}

// The folder of a key on the disk: an Outlook version folder's label is
// matched without regard to case, as the server matches it.
fs::path FolderOf(const fs::path& root, const std::string& key) {
  const std::size_t label_at = key.find('/', key.find('/') + 1);
  if (label_at == std::string::npos) return root / key;
  const fs::path parent = root / key.substr(0, label_at);
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(parent, ec)) {
    if (ascii::ToLower(e.path().filename().string()) == key.substr(label_at + 1)) return e.path();
  }
  return root / key;
}

// The LAST_VERSION published in the component folder, or why there is none.
std::string PublishedRelease(const fs::path& root, const std::string& key) {
  const fs::path ini = FolderOf(root, key) / "release.ini";
  std::string why;
  const std::optional<formats::ProfileDocument> doc = ReadReleaseIni(ini, why);
  if (!doc) throw std::runtime_error(ini.string() + ": " + why);
  std::string release = IniValue(*doc, "RELEASE", "LAST_VERSION").value_or("");
  if (release.empty())
    throw std::runtime_error("nothing is published as " + key + " (no LAST_VERSION in " +
                             ini.string() + ")");
  return release;
}

std::string Describe(const std::string& key, const RolloutEntry& e, const std::string& published) {
  std::string text = key + ": release " + e.release;
  if (e.release != published)
    return text + " (not published there now: ignored; " +
           (published.empty() ? "nothing published" : published + " is") + ")";
  if (!e.halted.empty()) {
    text += " halted by the server at " + e.halted + " (share 0";
    text += e.share ? ", was " + std::to_string(*e.share) + ")" : ")";
  } else {
    text += e.share ? " at " + std::to_string(*e.share) + " %" : " at its own ROLLOUT";
  }
  if (e.halt)
    text += ", halts by itself above " + std::to_string(e.halt->above_percent) +
            " % failed after " + std::to_string(e.halt->min_reports) + " reports";
  return text;
}

std::string PublishedOrNone(const fs::path& root, const std::string& key) {
  try {
    return PublishedRelease(root, key);
  } catch (const std::exception&) {
    return "";
  }
}

void PrintState(const RolloutOptions& o, const std::optional<std::string>& key, std::ostream& out) {
  RolloutRead read = ReadRolloutFile(o.root);
  for (const std::string& p : read.problems) out << "warning: " << p << "\n";
  int shown = 0;
  for (const auto& [k, e] : read.state) {
    if (key && k != *key) continue;
    out << Describe(k, e, PublishedOrNone(o.root, k)) << "\n";
    ++shown;
  }
  if (shown == 0)
    out << (key ? *key + " has no" : std::string("no component has a")) +
               " share of its own: each release goes at its own ROLLOUT\n";
}

int Change(const RolloutOptions& o, const std::string& key, std::ostream& out) {
  const std::string release = PublishedRelease(o.root, key);
  const std::string now =
      trust::FormatUtcTime(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()));
  RolloutState state = UpdateRolloutFile(o.root, [&](RolloutState& s) {
    RolloutEntry& e = s[key];
    // A share set for an older release no longer applies.
    if (e.release != release) e = RolloutEntry{release, {}, {}, {}, {}};
    if (o.share) {
      e.share = o.share;
      e.halted.clear();
    }
    if (o.halt_above) e.halt = HaltRule{*o.halt_above, *o.halt_min};
    if (o.no_halt) e.halt.reset();
    e.changed = now;
  });
  out << Describe(key, state[key], release) << "\n"
      << "mailbeacon-server serves it within a second (no restart, nothing signed anew); for a "
         "static export without --origin, run mailbeacon-server export again.\n";
  return 0;
}

int Rollout(const RolloutOptions& o, std::ostream& out) {
  std::error_code ec;
  if (!fs::is_directory(o.root, ec))
    throw std::runtime_error("--root " + o.root + " is not a folder");
  std::optional<std::string> key;
  if (!o.component.empty()) {
    key = ComponentFolderKey(o.component);
    if (!key)
      throw std::invalid_argument(
          "--component takes ORG or MIRROR, then outlook, express or agent, and for the add-in "
          "perhaps an Outlook version folder (ORG/express, ORG/outlook/2003)");
  }
  if (!o.Changes()) {
    PrintState(o, key, out);
    return 0;
  }
  return Change(o, *key, out);
}

}  // namespace

const char* const kRolloutUsage =
    "usage: mailbeacon-server rollout --root ROOT --component FOLDER/COMPONENT\n"
    "                         [--share P] [--halt-above PCT --halt-min N] [--no-halt]\n"
    "       mailbeacon-server rollout --root ROOT [--component FOLDER/COMPONENT]\n"
    "Sets who takes the release published as ROOT/FOLDER/COMPONENT now (FOLDER: ORG\n"
    "or MIRROR; COMPONENT: outlook, express or agent, or outlook/LABEL for an Outlook\n"
    "version folder), without signing anything anew. --share P gives it to P % of\n"
    "the installations (0 to 100; 0 halts it, --share again resumes it). --halt-above\n"
    "PCT --halt-min N makes the server halt it by itself (share 0) when, after at\n"
    "least N installed and failed reports, more than PCT % are failed; --no-halt\n"
    "drops that rule. Both hold only for the release published there now: another\n"
    "release starts from its own ROLLOUT. The state is ROOT/rollout/rollout.ini;\n"
    "mailbeacon-server serves it within a second. Without --share or a rule it\n"
    "prints the state.\n";

int RunRollout(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string error;
  std::optional<RolloutOptions> options = Parse(args, error);
  if (!options) {
    err << "mailbeacon-server rollout: " << error << "\n";
    return 2;
  }
  try {
    return Rollout(*options, out);
  } catch (const std::invalid_argument& e) {
    err << "mailbeacon-server rollout: " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    err << "mailbeacon-server rollout: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace mb::server
