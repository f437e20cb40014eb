// The answers of the download endpoints under "<vdir>/download/", apart from
// HTTP: pause.aspx, update_notice.aspx, the manifest and file answers of
// outlook_dll.aspx, express_exe.aspx and agent_exe.aspx, and the roots of
// trust of root.aspx?version=N, looked up in a release snapshot.
//
// The target is read exactly as sent (nothing is percent-decoded), the way
// the static export's nginx configuration reads it: the path and query keys
// match without regard to case, as IIS does; "Folder" is ORG or MIRROR in
// any case, ORG when it is absent or empty; an empty "program" or "version"
// counts as none. Anything else answers 404.
#pragma once

#include <string>
#include <string_view>

#include "server/exchange.h"
#include "server/release_snapshot.h"

namespace mb::server {

struct Reply {
  const Answer* answer = nullptr;  // never null
  std::string note;                // why a request was refused, for the log
  Route route;
};

// "" stays empty; otherwise one leading "/" and no trailing "/".
std::string NormalizeVirtualDir(std::string_view vdir);

class Endpoints {
 public:
  Endpoints(std::string_view vdir, const CachePolicy& policy);

  // target: path and query as sent. The reply points into the snapshot or
  // into this object.
  Reply Handle(std::string_view target, const ReleaseSnapshot& release) const;
  // "<vdir>/download/" in lower case.
  const std::string& Prefix() const { return prefix_; }

 private:
  Reply NotFound(std::string why) const { return {&not_found_, std::move(why), {}}; }
  Reply Notice(std::string_view query, const ReleaseSnapshot& release) const;
  Reply RootOfTrust(std::string_view query, const ReleaseSnapshot& release) const;
  Reply ComponentAnswer(Component c, std::string_view query, const ReleaseSnapshot& release) const;
  Reply ComponentRequest(Component c, const std::string& folder, std::string_view query,
                         const ReleaseSnapshot& release) const;

  std::string prefix_;
  Answer not_found_;
};

}  // namespace mb::server
