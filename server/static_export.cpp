#include "server/static_export.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "server/command_line.h"
#include "server/endpoints.h"
#include "server/export_files.h"
#include "server/export_release.h"
#include "server/log_text.h"
#include "server/nginx_config.h"
#include "server/nginx_origin.h"
#include "server/release_snapshot.h"
#include "server/rollout/release_shares.h"
#include "server/rollout/rollout_file.h"

namespace mb::server {
namespace fs = std::filesystem;
namespace {

constexpr const char* kPlainPathCharacters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-";

struct ExportOptions {
  std::string root;
  std::string out;
  std::string vdir = "/mailbeaconhome";
  int code_page = 949;
  std::string listen = "127.0.0.1:8080";
  std::string origin;  // the mailbeacon-server that takes reports; empty: none
  CachePolicy cache;
};

std::optional<std::string> OptionProblem(const ExportOptions& o) {
  if (o.root.empty() || o.out.empty()) return "export needs --root and --out";
  if (o.listen.empty() || o.listen.find_first_of(" ;{}\"'\n") != std::string::npos)
    return "--listen takes ADDR:PORT";
  if (!o.origin.empty() && !IsOriginAddress(o.origin))
    return "--origin takes HOST:PORT or [IPV6]:PORT";
  // Both end up in nginx's configuration.
  if (NormalizeVirtualDir(o.vdir).find_first_not_of(kPlainPathCharacters) != std::string::npos)
    return "--vdir may hold only letters, digits and / . _ -";
  std::error_code ec;
  fs::path out = fs::absolute(o.out);
  fs::path real = fs::weakly_canonical(out, ec);
  if (!FitsNginxConfig(out.string()) || !FitsNginxConfig(real.string()))
    return "--out must not hold quotes, backslashes, $, ? or control characters";
  return std::nullopt;
}

std::optional<ExportOptions> Parse(const std::vector<std::string>& args, std::string& error) {
  ExportOptions o;
  std::map<std::string, std::string*> texts = {{"--root", &o.root},
                                               {"--out", &o.out},
                                               {"--vdir", &o.vdir},
                                               {"--listen", &o.listen},
                                               {"--origin", &o.origin}};
  std::map<std::string, int*> numbers = {{"--codepage", &o.code_page},
                                         {"--max-age", &o.cache.text_max_age},
                                         {"--file-max-age", &o.cache.file_max_age}};
  for (std::size_t i = 0; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) {
      error = "missing value for " + args[i];
      return std::nullopt;
    }
    if (texts.count(args[i])) {
      *texts[args[i]] = args[i + 1];
    } else if (std::optional<int> n = ParseNonNegative(args[i + 1]); numbers.count(args[i]) && n) {
      *numbers[args[i]] = *n;
    } else {
      error = "unknown option or bad value: " + args[i];
      return std::nullopt;
    }
  }
  if (std::optional<std::string> problem = OptionProblem(o)) {
    error = *problem;
    return std::nullopt;
  }
  return o;
}

// The exports are numbered folders; the next number is one past the highest.
std::string NextExportName(const fs::path& exports) {
  long highest = 0;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(exports, ec)) {
    std::optional<int> n = ParseNonNegative(e.path().filename().string());
    if (n) highest = std::max<long>(highest, *n);
  }
  return std::to_string(highest + 1);
}

// Every export but the new one and the one it replaced (requests that
// looked up the link just before the swap may still open its files).
void RemoveOldExports(const fs::path& exports, const std::string& keep1, const std::string& keep2) {
  std::error_code ec;
  std::vector<fs::path> old;
  for (const fs::directory_entry& e : fs::directory_iterator(exports, ec)) {
    std::string name = e.path().filename().string();
    if (name != keep1 && name != keep2) old.push_back(e.path());
  }
  for (const fs::path& p : old) fs::remove_all(p, ec);
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string ShellQuoted(const std::string& path) {
  if (path.find_first_not_of(kPlainPathCharacters) == std::string::npos) return path;
  return "'" + path + "'";
}

// Writes the three configuration files; true when any of them changed.
bool WriteConfiguration(const fs::path& dir, const ExportLayout& layout) {
  const std::pair<const char*, std::string> files[] = {
      {"mailbeacon-maps.conf", NginxMaps(layout) + NginxOriginMaps(layout)},
      {"mailbeacon-locations.conf", NginxOriginLocations(layout) + NginxLocations(layout)},
      {"nginx.conf", NginxConf(layout)}};
  bool changed = false;
  for (const auto& [name, text] : files) {
    std::error_code ec;
    bool same =
        fs::is_regular_file(fs::symlink_status(dir / name, ec)) && ReadText(dir / name) == text;
    if (same) continue;
    ReplaceFile(dir / name, text);
    changed = true;
  }
  return changed;
}

void SayWhatNext(std::ostream& out, const fs::path& dir, bool first, bool changed) {
  std::string p = ShellQuoted(dir.string());
  if (first) {
    out << "Start nginx on it: nginx -p " << p
        << " -c nginx.conf (or include mailbeacon-maps.conf in the http {} block of your "
           "nginx and mailbeacon-locations.conf in a server {} block). After every change of "
           "the release run this export again: nginx serves the new export at once, no "
           "reload needed.\n";
  } else if (changed) {
    out << "The nginx configuration changed: reload nginx once (nginx -p " << p
        << " -c nginx.conf -s reload, or nginx -s reload for a site that includes the "
           "files); later exports with the same options need no reload.\n";
  } else {
    out << "nginx serves it at once, no reload needed; run this export again after every "
           "change of the release.\n";
  }
}

// The snapshot of the release, or why it cannot be exported.
std::shared_ptr<const ReleaseSnapshot> ReadRelease(const ExportOptions& o, std::ostream& err) {
  std::error_code ec;
  if (!fs::is_directory(o.root, ec))
    throw std::runtime_error("--root " + o.root + " is not a directory");
  std::shared_ptr<const ReleaseSnapshot> release =
      ReleaseSnapshot::Build(ReleaseFolder(o.root), AnsiCodePage(o.code_page), o.cache);
  for (const std::string& w : release->Warnings())
    err << "warning: " << LogText(w, LogEscape::kVendorText, 4096) << "\n";
  if (std::optional<std::string> problem = ExportProblem(*release))
    throw std::runtime_error(*problem + "; nothing exported");
  return release;
}

// The pause answer as mailbeacon-server gives it: with the shares of the
// rollout state (ROOT/rollout/rollout.ini) after the vendor's lines.
void WriteSharedPause(const ReleaseSnapshot& release, const ExportOptions& o, const fs::path& dir,
                      std::ostream& err) {
  RolloutRead state = ReadRolloutFile(o.root);
  SharedPause shared =
      ComposePause(release.Pause(), release.Components(), state.state, AnsiCodePage(o.code_page));
  state.problems.insert(state.problems.end(), shared.problems.begin(), shared.problems.end());
  for (const std::string& p : state.problems)
    err << "warning: " << LogText(p, LogEscape::kVendorText, 4096) << "\n";
  if (shared.body != release.Pause().body) ReplaceFile(dir / "pause.txt", shared.body);
}

// A new numbered export beside the others: its name and answer count.
std::pair<std::string, int> WriteExport(const ReleaseSnapshot& release, const ExportOptions& o,
                                        const fs::path& exports, std::ostream& err) {
  MakeExportFolder(exports);
  std::string name = NextExportName(exports);
  try {
    const int answers = WriteExportedRelease(release, exports / name);
    WriteSharedPause(release, o, exports / name, err);
    return {name, answers};
  } catch (...) {
    std::error_code ec;
    fs::remove_all(exports / name, ec);
    throw;
  }
}

// Makes the export current; the one it replaces stays, older ones go.
void MakeCurrent(const fs::path& dir, const std::string& name) {
  std::error_code ec;
  std::string previous = fs::read_symlink(dir / "current", ec).filename().string();
  ReplaceLink(dir / "current", fs::path("exports") / name);
  RemoveOldExports(dir / "exports", name, previous);
}

void Export(const ExportOptions& o, std::ostream& out, std::ostream& err) {
  std::shared_ptr<const ReleaseSnapshot> release = ReadRelease(o, err);
  fs::path dir = fs::absolute(o.out).lexically_normal();
  MakeExportFolder(dir);
  ExportLock lock(dir);
  MakeExportFolder(dir / "logs");
  auto [name, answers] = WriteExport(*release, o, dir / "exports", err);
  ExportLayout layout;
  layout.release_link = (dir / "current").string();
  layout.vdir = NormalizeVirtualDir(o.vdir);
  layout.listen = o.listen;
  layout.text_max_age = o.cache.text_max_age;
  layout.file_max_age = o.cache.file_max_age;
  layout.origin = o.origin;
  layout.pause_cache = (dir / "pause-cache").string();
  std::error_code ec;
  bool first = !fs::is_regular_file(fs::symlink_status(dir / "nginx.conf", ec));
  bool changed = WriteConfiguration(dir, layout);
  MakeCurrent(dir, name);
  for (const std::string& closed : ClosedToOthers(dir))
    err << "warning: " << closed
        << " cannot be passed by other users (no o+x): nginx started as root serves as an "
           "unprivileged user and would answer 403\n";
  out << "exported " << answers << " answers to " << (dir / "exports" / name).string()
      << ", now the current export\n";
  SayWhatNext(out, dir, first, changed);
}

}  // namespace

const char* const kExportUsage =
    "usage: mailbeacon-server export --root DIR --out OUT [--vdir PATH] [--codepage N]\n"
    "                         [--listen ADDR:PORT] [--max-age S] [--file-max-age S]\n"
    "                         [--origin ADDR:PORT]\n"
    "Writes every answer of the release folder DIR to OUT, with an nginx\n"
    "configuration that serves them (OUT/nginx.conf, listening on ADDR:PORT, default\n"
    "127.0.0.1:8080). Run it again after every change of the release: nginx serves\n"
    "the new export at once. Defaults as the server's: --vdir /mailbeaconhome,\n"
    "--codepage 949, --max-age 2, --file-max-age 60. --origin names the\n"
    "mailbeacon-server serving the same folder: nginx passes the agents' reports to\n"
    "it, and takes the pause answer (with the shares of the rollout command) from it,\n"
    "cached for --max-age; without it reports answer 404, and a rollout change needs\n"
    "this export run again.\n";

int RunExport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string error;
  std::optional<ExportOptions> options = Parse(args, error);
  if (!options) {
    err << "mailbeacon-server export: " << error << "\n";
    return 2;
  }
  try {
    Export(*options, out, err);
    return 0;
  } catch (const std::exception& e) {
    err << "mailbeacon-server export: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace mb::server
