#include "server/endpoints.h"

#include <fstream>
#include <iterator>
#include <optional>

#include "server/manifest.h"
#include "server/program_name.h"
#include "server/release_files.h"

namespace mb::server {
namespace fs = std::filesystem;
namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

const std::string* Find(const Query& query, std::string_view key) {
  for (const auto& [k, v] : query)
    if (Lower(k) == Lower(key)) return &v;
  return nullptr;
}

// "ORG" or "MIRROR"; a missing Folder means ORG, any other value nothing.
std::optional<std::string> ServerFolder(const Query& query) {
  const std::string* value = Find(query, "Folder");
  if (value == nullptr) return "ORG";
  std::string folder = Lower(*value);
  if (folder == "org") return "ORG";
  if (folder == "mirror") return "MIRROR";
  return std::nullopt;
}

Reply NotFound(std::string why) {
  Reply r;
  r.body = "Not Found";
  r.notes.push_back(std::move(why));
  return r;
}

Reply Ok(std::string body, std::string content_type) {
  Reply r;
  r.status = 200;
  r.body = std::move(body);
  r.content_type = std::move(content_type);
  return r;
}

// A file as the answer; it is read while it is sent, never held whole.
Reply OkFile(const fs::path& path, std::string content_type) {
  std::error_code ec;
  std::uintmax_t size = fs::file_size(path, ec);
  if (ec || !std::ifstream(path, std::ios::binary)) return NotFound("cannot read " + path.string());
  Reply r = Ok("", std::move(content_type));
  r.file = path;
  r.file_size = size;
  return r;
}

}  // namespace

std::string BodyOf(const Reply& reply) {
  if (!reply.file) return reply.body;
  std::ifstream in(*reply.file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string NormalizeVirtualDir(std::string_view vdir) {
  while (!vdir.empty() && vdir.back() == '/') vdir.remove_suffix(1);
  while (!vdir.empty() && vdir.front() == '/') vdir.remove_prefix(1);
  return vdir.empty() ? std::string() : "/" + std::string(vdir);
}

Endpoints::Endpoints(ReleaseFolder release, std::string_view vdir, int code_page)
    : release_(std::move(release)),
      prefix_(Lower(NormalizeVirtualDir(vdir)) + "/download/"),
      code_page_(code_page) {}

Reply Endpoints::Handle(std::string_view path, const Query& query) const {
  std::string p = Lower(path);
  if (p.rfind(prefix_, 0) != 0) return NotFound("not under " + prefix_);
  std::string endpoint = p.substr(prefix_.size());
  if (endpoint == "pause.aspx") return Pause();
  if (endpoint == "update_notice.aspx") return Notice(query);
  if (endpoint == "outlook_dll.aspx") return ComponentAnswer(Component::kOutlook, query);
  if (endpoint == "express_exe.aspx") return ComponentAnswer(Component::kExpress, query);
  if (endpoint == "agent_exe.aspx") return ComponentAnswer(Component::kAgent, query);
  return NotFound("unknown endpoint");
}

Reply Endpoints::Pause() const {
  std::error_code ec;
  if (!fs::exists(release_.PauseFile(), ec)) return Ok("N", "text/plain");
  return OkFile(release_.PauseFile(), "text/plain");
}

Reply Endpoints::Notice(const Query& query) const {
  std::optional<std::string> folder = ServerFolder(query);
  if (!folder) return NotFound("unknown Folder value");
  std::optional<fs::path> file = release_.NoticeFile(*folder);
  if (!file) return NotFound("no notice for " + *folder);
  return OkFile(*file, "text/plain");
}

Reply Endpoints::ComponentAnswer(Component c, const Query& query) const {
  std::optional<std::string> folder = ServerFolder(query);
  if (!folder) return NotFound("unknown Folder value");
  const std::string* version = Find(query, "version");
  std::optional<fs::path> dir = release_.ComponentDir(c, *folder, version ? *version : "");
  if (!dir) return NotFound("no release folder for this component");
  const std::string* program = Find(query, "program");
  return program ? File(*dir, *program) : Manifest(*dir);
}

Reply Endpoints::File(const fs::path& dir, const std::string& encoded) const {
  std::optional<std::string> ansi = DecodeProgramName(encoded);
  if (!ansi) return NotFound("malformed program value");
  std::optional<std::string> name = code_page_.ToUtf8(*ansi);
  if (!name)
    return NotFound("program value is not text of code page " +
                    std::to_string(code_page_.Number()));
  if (!IsReleaseFileName(*name)) return NotFound("not a release file: " + *name);
  std::optional<fs::path> file = FileInside(dir, *name);
  if (!file) return NotFound("refused or missing file: " + *name);
  return OkFile(*file, "application/octet-stream");
}

Reply Endpoints::Manifest(const fs::path& dir) const {
  ManifestResult manifest = BuildManifest(dir, code_page_);
  Reply r;
  if (manifest.text)
    r = Ok(*manifest.text, "text/plain");
  else
    r.status = 500;
  r.manifest = manifest.text.has_value();
  r.notes = std::move(manifest.warnings);
  return r;
}

}  // namespace mb::server
