#include "server/nginx_origin.h"

#include "server/listen_address.h"

namespace mb::server {
namespace {

// Talks to the origin on kept connections, briefly: an origin that does
// not answer must not hold the agents.
const char* const kProxy =
    "    proxy_pass http://mailbeacon_origin;\n"
    "    proxy_http_version 1.1;\n"
    "    proxy_set_header Connection \"\";\n"
    "    proxy_pass_request_body off;\n"
    "    proxy_set_header Content-Length \"\";\n"
    "    proxy_connect_timeout 2s;\n"
    "    proxy_send_timeout 3s;\n"
    "    proxy_read_timeout 3s;\n";

}  // namespace

bool IsOriginAddress(const std::string& origin) {
  return SplitListenAddress(origin).has_value() &&
         origin.find_first_of(" ;{}\"'\\$\n\r\t") == std::string::npos;
}

std::string NginxOriginMaps(const ExportLayout& layout) {
  if (layout.origin.empty()) return "";
  return "# The origin mailbeacon-server (export --origin): it takes the reports and\n"
         "# keeps the rollout state that the pause answer carries.\n"
         "upstream mailbeacon_origin {\n    server " +
         layout.origin +
         ";\n    keepalive 8;\n}\n"
         "proxy_cache_path " +
         Quote(layout.pause_cache) +
         " levels=1 keys_zone=mailbeacon_pause:1m max_size=16m inactive=1h"
         " use_temp_path=off;\n";
}

std::string NginxOriginLocations(const ExportLayout& layout) {
  if (layout.origin.empty()) return "";
  const std::string prefix = RegexEscaped(layout.vdir + "/download/");
  return "# Reports go to the origin, counted there; never cached.\n"
         "location ~* " +
         Quote("^" + prefix + "report\\.aspx$") + " {\n" + kProxy +
         "}\n"
         "# The pause answer carries the rollout shares: from the origin, cached for\n"
         "# its max-age; the last one cached, or the export's file, when it is down.\n"
         "location ~* " +
         Quote("^" + prefix + "pause\\.aspx$") + " {\n" + kProxy +
         "    proxy_cache mailbeacon_pause;\n"
         "    proxy_cache_lock on;\n"
         "    proxy_cache_lock_timeout 3s;\n"
         "    proxy_cache_use_stale error timeout updating;\n"
         "    proxy_cache_revalidate on;\n"
         "    error_page 502 504 = @mailbeacon_pause_file;\n"
         "}\n"
         "location @mailbeacon_pause_file {\n"
         "    root " +
         Quote(layout.release_link) +
         ";\n"
         "    types { }\n"
         "    default_type text/plain;\n"
         "    expires " +
         std::to_string(layout.text_max_age) +
         "s;\n"
         "    rewrite ^ /pause.txt break;\n"
         "}\n";
}

}  // namespace mb::server
