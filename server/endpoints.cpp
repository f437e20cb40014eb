#include "server/endpoints.h"

#include <optional>

#include "server/request_target.h"

namespace mb::server {
namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// "ORG" or "MIRROR"; absent or empty means ORG, any other value nothing.
std::optional<std::string> ServerFolder(std::string_view query) {
  std::string_view value = QueryArg(query, "Folder").value_or("");
  if (value.empty() || EqualsIgnoringCase(value, "ORG")) return "ORG";
  if (EqualsIgnoringCase(value, "MIRROR")) return "MIRROR";
  return std::nullopt;
}

}  // namespace

std::string NormalizeVirtualDir(std::string_view vdir) {
  while (!vdir.empty() && vdir.back() == '/') vdir.remove_suffix(1);
  while (!vdir.empty() && vdir.front() == '/') vdir.remove_prefix(1);
  return vdir.empty() ? std::string() : "/" + std::string(vdir);
}

Endpoints::Endpoints(std::string_view vdir, const CachePolicy& policy)
    : prefix_(Lower(NormalizeVirtualDir(vdir)) + "/download/") {
  not_found_.status = 404;
  not_found_.body = "Not Found";
  not_found_.max_age = policy.text_max_age;
}

Reply Endpoints::Handle(std::string_view target, const ReleaseSnapshot& release) const {
  RequestTarget t = SplitTarget(target);
  std::string p = Lower(t.path);
  if (p.rfind(prefix_, 0) != 0) return NotFound("not under " + prefix_);
  std::string endpoint = p.substr(prefix_.size());
  if (endpoint == "pause.aspx") return {&release.Pause(), {}};
  if (endpoint == "update_notice.aspx") return Notice(t.query, release);
  if (endpoint == "outlook_dll.aspx") return ComponentAnswer(Component::kOutlook, t.query, release);
  if (endpoint == "express_exe.aspx") return ComponentAnswer(Component::kExpress, t.query, release);
  if (endpoint == "agent_exe.aspx") return ComponentAnswer(Component::kAgent, t.query, release);
  return NotFound("unknown endpoint");
}

Reply Endpoints::Notice(std::string_view query, const ReleaseSnapshot& release) const {
  std::optional<std::string> folder = ServerFolder(query);
  if (!folder) return NotFound("unknown Folder value");
  const Answer* notice = release.Notice(*folder);
  if (notice == nullptr) return NotFound("no notice for " + *folder);
  return {notice, {}};
}

Reply Endpoints::ComponentAnswer(Component c, std::string_view query,
                                 const ReleaseSnapshot& release) const {
  std::optional<std::string> folder = ServerFolder(query);
  if (!folder) return NotFound("unknown Folder value");
  std::string version(QueryArg(query, "version").value_or(""));
  const ComponentRelease* component = release.Find(c, *folder, version);
  if (component == nullptr) return NotFound("no release folder for this component");
  std::string_view program = QueryArg(query, "program").value_or("");
  if (program.empty()) return {&component->manifest, {}};
  auto file = component->files.find(std::string(program));
  if (file == component->files.end())
    return NotFound("no published file has the program value " + std::string(program));
  return {&file->second, {}};
}

}  // namespace mb::server
