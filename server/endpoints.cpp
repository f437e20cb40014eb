#include "server/endpoints.h"

#include <optional>

#include "rules/ascii.h"
#include "server/published_roots.h"
#include "server/request_target.h"

namespace mb::server {
namespace {

// "ORG" or "MIRROR"; absent or empty means ORG, any other value nothing.
std::optional<std::string> ServerFolder(std::string_view query) {
  std::string_view value = QueryArg(query, "Folder").value_or("");
  if (value.empty() || EqualsIgnoringCase(value, "ORG")) return "ORG";
  if (EqualsIgnoringCase(value, "MIRROR")) return "MIRROR";
  return std::nullopt;
}

std::optional<Component> ComponentOfEndpoint(std::string_view endpoint) {
  if (endpoint == "outlook_dll.aspx") return Component::kOutlook;
  if (endpoint == "express_exe.aspx") return Component::kExpress;
  if (endpoint == "agent_exe.aspx") return Component::kAgent;
  return std::nullopt;
}

}  // namespace

std::string NormalizeVirtualDir(std::string_view vdir) {
  while (!vdir.empty() && vdir.back() == '/') vdir.remove_suffix(1);
  while (!vdir.empty() && vdir.front() == '/') vdir.remove_prefix(1);
  return vdir.empty() ? std::string() : "/" + std::string(vdir);
}

Endpoints::Endpoints(std::string_view vdir, const CachePolicy& policy)
    : prefix_(ascii::ToLower(NormalizeVirtualDir(vdir)) + "/download/") {
  not_found_.status = 404;
  not_found_.body = "Not Found";
  not_found_.max_age = policy.text_max_age;
}

Reply Endpoints::Handle(std::string_view target, const ReleaseSnapshot& release) const {
  RequestTarget t = SplitTarget(target);
  std::string p = ascii::ToLower(t.path);
  if (p.rfind(prefix_, 0) != 0) return NotFound("not under " + prefix_);
  std::string endpoint = p.substr(prefix_.size());
  Reply reply;
  if (endpoint == "pause.aspx") {
    reply = {&release.Pause(), {}, {}};
  } else if (endpoint == "update_notice.aspx") {
    reply = Notice(t.query, release);
  } else if (endpoint == "root.aspx") {
    reply = RootOfTrust(t.query, release);
  } else if (std::optional<Component> c = ComponentOfEndpoint(endpoint)) {
    reply = ComponentAnswer(*c, t.query, release);
  } else {
    return NotFound("unknown endpoint");
  }
  reply.route.endpoint = endpoint.substr(0, endpoint.size() - std::string_view(".aspx").size());
  return reply;
}

Reply Endpoints::Notice(std::string_view query, const ReleaseSnapshot& release) const {
  std::optional<std::string> folder = ServerFolder(query);
  if (!folder) return NotFound("unknown Folder value");
  const Answer* notice = release.Notice(*folder);
  Reply reply = notice != nullptr ? Reply{notice, {}, {}} : NotFound("no notice for " + *folder);
  reply.route.folder = *folder;
  return reply;
}

// keys/root.N.ini; 404 past the newest, as agents walking the roots expect.
Reply Endpoints::RootOfTrust(std::string_view query, const ReleaseSnapshot& release) const {
  const int version = RootVersion(QueryArg(query, "version").value_or(""));
  if (version == 0) return NotFound("no root version");
  const Answer* root = release.Root(version);
  return root != nullptr ? Reply{root, {}, {}} : NotFound("no root of that version");
}

Reply Endpoints::ComponentAnswer(Component c, std::string_view query,
                                 const ReleaseSnapshot& release) const {
  std::optional<std::string> folder = ServerFolder(query);
  if (!folder) return NotFound("unknown Folder value");
  Reply reply = ComponentRequest(c, *folder, query, release);
  reply.route.folder = *folder;
  return reply;
}

Reply Endpoints::ComponentRequest(Component c, const std::string& folder, std::string_view query,
                                  const ReleaseSnapshot& release) const {
  std::string version(QueryArg(query, "version").value_or(""));
  const ComponentRelease* component = release.Find(c, folder, version);
  if (component == nullptr) return NotFound("no release folder for this component");
  std::string_view program = QueryArg(query, "program").value_or("");
  if (program.empty()) return {&component->manifest, {}, {}};
  auto file = component->files.find(std::string(program));
  if (file == component->files.end())
    return NotFound("no published file has the program value " + std::string(program));
  return {&file->second, {}, {{}, {}, std::string(ComponentFolderName(c)), file->second.file_name}};
}

}  // namespace mb::server
