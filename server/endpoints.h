// The answers of the download endpoints under "<vdir>/download/", apart from
// HTTP: pause.aspx, update_notice.aspx, and the manifest and file answers of
// outlook_dll.aspx, express_exe.aspx and agent_exe.aspx. Paths and query keys
// are matched without regard to case, as IIS does.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/ansi_code_page.h"
#include "server/release_folder.h"

namespace mb::server {

// Query parameters as decoded key/value pairs, in request order.
using Query = std::vector<std::pair<std::string, std::string>>;

struct Reply {
  int status = 404;
  std::string body;                           // the answer, unless file is set
  std::optional<std::filesystem::path> file;  // a file sent as the answer
  std::uintmax_t file_size = 0;               // its size when the answer was made
  std::string content_type = "text/plain";
  bool manifest = false;
  std::vector<std::string> notes;  // why a request was refused, files left out
};

// The answer's bytes, the file's read into memory.
std::string BodyOf(const Reply& reply);

// "" stays empty; otherwise one leading "/" and no trailing "/".
std::string NormalizeVirtualDir(std::string_view vdir);

class Endpoints {
 public:
  Endpoints(ReleaseFolder release, std::string_view vdir, int code_page);

  Reply Handle(std::string_view path, const Query& query) const;

 private:
  Reply Pause() const;
  Reply Notice(const Query& query) const;
  Reply ComponentAnswer(Component c, const Query& query) const;
  Reply File(const std::filesystem::path& dir, const std::string& encoded) const;
  Reply Manifest(const std::filesystem::path& dir) const;

  ReleaseFolder release_;
  std::string prefix_;  // lower-case "<vdir>/download/"
  AnsiCodePage code_page_;
};

}  // namespace mb::server
