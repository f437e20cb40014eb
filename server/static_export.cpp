#include "server/static_export.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "server/command_line.h"
#include "server/endpoints.h"
#include "server/nginx_config.h"
#include "server/release_snapshot.h"

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
  CachePolicy cache;
};

std::optional<ExportOptions> Parse(const std::vector<std::string>& args, std::string& error) {
  ExportOptions o;
  std::map<std::string, std::string*> texts = {
      {"--root", &o.root}, {"--out", &o.out}, {"--vdir", &o.vdir}, {"--listen", &o.listen}};
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
  if (o.root.empty() || o.out.empty()) error = "export needs --root and --out";
  if (o.listen.empty() || o.listen.find_first_of(" ;{}\"'\n") != std::string::npos)
    error = "--listen takes ADDR:PORT";
  // Both end up in nginx's configuration: letters, digits and a few marks only.
  if (NormalizeVirtualDir(o.vdir).find_first_not_of(kPlainPathCharacters) != std::string::npos)
    error = "--vdir may hold only letters, digits and / . _ -";
  if (!o.out.empty() &&
      fs::absolute(o.out).string().find_first_of("\"\\$;{}\n\r") != std::string::npos)
    error = "--out must not hold quotes, backslashes, $ ; { } or line breaks";
  if (!error.empty()) return std::nullopt;
  return o;
}

void SetModifiedTime(const fs::path& path, std::time_t t) {
  if (t <= 0) return;
  timespec times[2] = {{t, 0}, {t, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

void WriteText(const fs::path& path, const std::string& bytes, std::time_t modified = 0) {
  fs::create_directories(path.parent_path());
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
  }
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read);
  SetModifiedTime(path, modified);
}

// The answer's bytes; a file that changed since its digest was taken
// cannot be exported as it was published.
std::string BytesOf(const Answer& answer) {
  if (!answer.file) return answer.body;
  std::optional<std::string> bytes = answer.file->ReadAll();
  if (!bytes) throw std::runtime_error("a release file changed while it was exported; try again");
  return *bytes;
}

class Exporter {
 public:
  Exporter(const ExportOptions& o, const fs::path& answers) : o_(o), answers_(answers) {
    layout_.answers_dir = fs::absolute(answers).lexically_normal().string();
    layout_.vdir = NormalizeVirtualDir(o.vdir);
    layout_.listen = o.listen;
    layout_.text_max_age = o.cache.text_max_age;
    layout_.file_max_age = o.cache.file_max_age;
  }

  void Write(const ReleaseSnapshot& release) {
    WriteText(answers_ / "pause.txt", release.Pause().body, release.Pause().last_modified);
    for (const auto& [folder, notice] : release.Notices()) {
      WriteText(answers_ / "notice" / (folder + ".txt"), notice.body, notice.last_modified);
      layout_.notice_folders.push_back(folder);
    }
    for (const auto& [key, component] : release.Components()) WriteComponent(key, component);
  }

  const ExportLayout& Layout() const { return layout_; }

 private:
  void WriteComponent(const std::string& key, const ComponentRelease& c) {
    // key: FOLDER/component[/label]
    std::size_t slash = key.find('/');
    std::size_t second = key.find('/', slash + 1);
    ExportedAnswer a;
    a.folder = key.substr(0, slash);
    std::string component = key.substr(slash + 1, second - slash - 1);
    a.endpoint = component == "outlook" ? "outlook_dll" : component + "_exe";
    a.label = second == std::string::npos ? "" : key.substr(second + 1);
    a.file = "/" + key + "/manifest.txt";
    WriteText(answers_.string() + a.file, c.manifest.body, c.manifest.last_modified);
    layout_.answers.push_back(a);
    int n = 0;
    for (const auto& [program, answer] : c.files) {
      a.program = program;
      a.file = "/" + key + "/f/" + std::to_string(++n) + ".bin";
      WriteText(answers_.string() + a.file, BytesOf(answer), answer.last_modified);
      layout_.answers.push_back(a);
    }
  }

  const ExportOptions& o_;
  fs::path answers_;
  ExportLayout layout_;
};

void Export(const ExportOptions& o, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  if (!fs::is_directory(o.root, ec))
    throw std::runtime_error("--root " + o.root + " is not a directory");
  AnsiCodePage cp(o.code_page);
  std::shared_ptr<const ReleaseSnapshot> release =
      ReleaseSnapshot::Build(ReleaseFolder(o.root), cp, o.cache);
  for (const std::string& w : release->Warnings()) err << "warning: " << w << "\n";
  for (const auto& [key, component] : release->Components()) {
    if (component.manifest.status != 200)
      throw std::runtime_error(key + " cannot be published (see the warnings); nothing exported");
  }
  fs::path dir = o.out;
  fs::create_directories(dir / "logs");
  // Written beside, then put in place, so a half-done export never mixes in.
  fs::path fresh = dir / "answers.new";
  fs::remove_all(fresh);
  Exporter exporter(o, fresh);
  exporter.Write(*release);
  ExportLayout layout = exporter.Layout();
  layout.answers_dir = fs::absolute(dir / "answers").lexically_normal().string();
  fs::remove_all(dir / "answers");
  fs::rename(fresh, dir / "answers");
  WriteText(dir / "mailbeacon-maps.conf", NginxMaps(layout));
  WriteText(dir / "mailbeacon-locations.conf", NginxLocations(layout));
  WriteText(dir / "nginx.conf", NginxConf(layout));
  out << "exported " << layout.answers.size() << " manifest and file answers to " << dir.string()
      << "; run: nginx -p " << fs::absolute(dir).string() << " -c nginx.conf\n";
}

}  // namespace

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
