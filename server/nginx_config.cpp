#include "server/nginx_config.h"

namespace mb::server {

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

std::string RegexEscaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (std::string_view(".^$*+?()[]{}|\\").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

namespace {

// The internal prefix an answer's file is read under; a --vdir cannot hold "@".
const char kReleasePrefix[] = "/@mailbeacon-release";


// "^/+a/+b/+download/+": the path as sent, any run of "/" for one.
std::string SlashTolerantPrefix(const std::string& vdir) {
  std::string out = "^";
  for (char c : vdir + "/download/") out += c == '/' ? std::string("/+") : RegexEscaped({c});
  return out;
}

std::string ProgramMap() {
  std::string out =
      "# The file of a program value: digits, \"-\" and \"*\" only; empty means\n"
      "# the manifest. Long values are cut into folders (file names are limited).\n"
      "map $arg_program $mailbeacon_program {\n    default \"\";\n    \"\" manifest.txt;\n";
  for (std::size_t n = 1; n <= kProgramSegments; ++n) {
    std::string pattern = "~^", value = "p/";
    for (std::size_t i = 1; i <= n; ++i) {
      std::string name = "mailbeacon_p" + std::to_string(i);
      std::string count =
          i < n ? std::to_string(kProgramSegment) : "1," + std::to_string(kProgramSegment);
      pattern += "(?<";
      pattern += name;
      pattern += ">[-0-9*]{";
      pattern += count;
      pattern += "})";
      value += "$";
      value += name;
      if (i < n) value += ".d/";
    }
    pattern += "$";
    out += "    ";
    out += Quote(pattern);
    out += " ";
    out += value;
    out += ";\n";
  }
  return out + "}\n";
}

std::string EndpointMap(const std::string& vdir) {
  const std::string prefix = vdir + "/download/";
  std::string out = "map $uri $mailbeacon_endpoint {\n    default \"\";\n";
  const char* const names[][2] = {{"pause", "pause"},
                                  {"update_notice", "notice"},
                                  {"outlook_dll", "outlook"},
                                  {"express_exe", "express"},
                                  {"agent_exe", "agent"},
                                  {"root", "root"}};
  for (const auto& [endpoint, name] : names)
    out += "    " + Quote(prefix + endpoint + ".aspx") + " " + name + ";\n";
  return out + "}\n";
}

// Where answers are served: one range per request, as mailbeacon-server
// answers (several ranges get the whole file), and 416 in its words.
const char* const kRanges =
    "    max_ranges 1;\n"
    "    error_page 416 = @mailbeacon_unsatisfiable;\n";

}  // namespace

std::string ExportedProgramPath(const std::string& program) {
  std::string path = "p";
  for (std::size_t at = 0; at < program.size(); at += kProgramSegment) {
    path += "/" + program.substr(at, kProgramSegment);
    if (at + kProgramSegment < program.size()) path += ".d";
  }
  return path;
}

bool FitsNginxConfig(const std::string& path) {
  for (char c : path) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    if (std::string_view("\"'\\$?").find(c) != std::string_view::npos) return false;
  }
  return true;
}

std::string NginxMaps(const ExportLayout& layout) {
  std::string out =
      "# mailbeacon-server export: include in the http {} block. It does not change\n"
      "# with the release: a new export is served without a reload.\n"
      "# The server folder: ORG when Folder is absent or empty (nginx reads query\n"
      "# keys and these values without regard to case, as mailbeacon-server does).\n"
      "map $arg_folder $mailbeacon_folder {\n    default \"\";\n    \"\" ORG;\n"
      "    ORG ORG;\n    MIRROR MIRROR;\n}\n";
  out += EndpointMap(layout.vdir);
  out += ProgramMap();
  out +=
      "# An Outlook version label that may name a version folder.\n"
      "map \"$mailbeacon_endpoint/$arg_version\" $mailbeacon_label {\n    default \"\";\n"
      "    outlook/. \"\";\n    outlook/.. \"\";\n"
      "    \"~^outlook/(?<mailbeacon_v>[A-Za-z0-9._-]+)$\" $mailbeacon_v;\n}\n";
  out +=
      "# A root of trust: its version, 1 and on, no leading zero.\n"
      "map $arg_version $mailbeacon_root {\n    default \"\";\n"
      "    \"~^(?<mailbeacon_r>[1-9][0-9]{0,8})$\" root/$mailbeacon_r.txt;\n}\n";
  out +=
      "# The answer's file below the export, for the component folder.\n"
      "map \"$mailbeacon_endpoint/$mailbeacon_folder/$mailbeacon_program\" $mailbeacon_answer {\n"
      "    default \"\";\n"
      "    \"~^pause/\" pause.txt;\n"
      "    \"~^root/\" $mailbeacon_root;\n"
      "    \"~^notice/(?<mailbeacon_f>ORG|MIRROR)/\" notice/$mailbeacon_f.txt;\n"
      "    \"~^(?<mailbeacon_c>outlook|express|agent)/(?<mailbeacon_f>ORG|MIRROR)/"
      "(?<mailbeacon_a>.+)$\"\n        $mailbeacon_f/$mailbeacon_c/$mailbeacon_a;\n}\n";
  out += "map $uri $mailbeacon_expires {\n    default " + std::to_string(layout.text_max_age) +
         "s;\n    \"~/p/[-0-9*./]+$\" " + std::to_string(layout.file_max_age) + "s;\n}\n";
  return out;
}

std::string NginxLocations(const ExportLayout& layout) {
  const std::string prefix = RegexEscaped(layout.vdir + "/download/");
  const std::string as_sent = SlashTolerantPrefix(layout.vdir);
  auto refusals = [&](const std::string& names) {
    return "    root " + Quote(layout.release_link) +
           ";\n"
           "    # Only the path as sent, runs of \"/\" aside: nothing decoded, no \"/./\".\n"
           "    if ($request_uri !~* " +
           Quote(as_sent + names + "\\.aspx(\\?|$)") +
           ") {\n"
           "        return 404 \"Not Found\";\n    }\n"
           "    if ($mailbeacon_answer = \"\") {\n        return 404 \"Not Found\";\n    }\n";
  };
  const std::string others = "(pause|update_notice|express_exe|agent_exe|root)";
  return "# mailbeacon-server export: include in a server {} block (the maps go in\n"
         "# http {}). Each answer is one file of the current export: looked up\n"
         "# through the link, nginx's cached descriptors are at most 1 s old.\n"
         "location ~* " +
         Quote("^" + prefix + others + "\\.aspx$") + " {\n" + refusals(others) +
         "    types { text/plain aspx txt; }\n"
         "    default_type application/octet-stream;\n"
         "    open_file_cache_valid 1s;\n"
         "    expires $mailbeacon_expires;\n"
         "    log_not_found off;\n"
         "    error_page 404 = @mailbeacon_not_found;\n" +
         kRanges +
         "    rewrite ^ /$mailbeacon_answer break;\n"
         "}\n"
         "# The add-in's answers depend on whether a version folder exists: the link\n"
         "# is looked up once, so the look and the file come from one export.\n"
         "location ~* " +
         Quote("^" + prefix + "outlook_dll\\.aspx$") + " {\n" + refusals("(outlook_dll)") +
         "    types { text/plain aspx; }\n"
         "    set $mailbeacon_release $realpath_root;\n"
         "    set $mailbeacon_path $mailbeacon_answer;\n"
         "    if (-f \"$mailbeacon_release/$mailbeacon_folder/outlook/v/$mailbeacon_label/"
         "manifest.txt\") {\n"
         "        set $mailbeacon_path "
         "\"$mailbeacon_folder/outlook/v/$mailbeacon_label/$mailbeacon_program\";\n"
         "    }\n"
         "    rewrite ^ \"" +
         kReleasePrefix +
         "$mailbeacon_release/$mailbeacon_path\" last;\n"
         "}\n"
         "location ^~ " +
         kReleasePrefix +
         "/ {\n"
         "    internal;\n"
         "    alias /;\n"
         "    types { text/plain txt; }\n"
         "    default_type application/octet-stream;\n"
         "    # Below one export nothing ever changes.\n"
         "    open_file_cache_valid 60s;\n"
         "    open_file_cache_errors on;\n"
         "    expires $mailbeacon_expires;\n"
         "    log_not_found off;\n"
         "    error_page 404 = @mailbeacon_not_found;\n" +
         kRanges +
         "}\n"
         "location @mailbeacon_not_found {\n"
         "    types { }\n"
         "    default_type text/plain;\n"
         "    return 404 \"Not Found\";\n"
         "}\n"
         "location @mailbeacon_unsatisfiable {\n"
         "    types { }\n"
         "    default_type text/plain;\n"
         "    return 416 \"Range Not Satisfiable\";\n"
         "}\n";
}

std::string NginxConf(const ExportLayout& layout) {
  return "# mailbeacon-server export. Run: nginx -p THIS_FOLDER -c nginx.conf\n"
         "# (pid, logs and temporary files stay inside this folder).\n"
         "worker_processes auto;\n"
         "pid nginx.pid;\n"
         "error_log logs/error.log;\n"
         "events {\n    worker_connections 8192;\n}\n"
         "http {\n"
         "    access_log off;\n"
         "    sendfile on;\n    tcp_nopush on;\n    tcp_nodelay on;\n"
         "    keepalive_requests 100000;\n"
         "    open_file_cache max=10000 inactive=60s;\n"
         "    server_tokens off;\n"
         "    client_body_temp_path client_body_temp;\n"
         "    proxy_temp_path proxy_temp;\n"
         "    fastcgi_temp_path fastcgi_temp;\n"
         "    uwsgi_temp_path uwsgi_temp;\n"
         "    scgi_temp_path scgi_temp;\n"
         "    include mailbeacon-maps.conf;\n"
         "    server {\n"
         "        listen " +
         layout.listen +
         ";\n"
         "        default_type text/plain;\n"
         "        include mailbeacon-locations.conf;\n"
         "        location / {\n            return 404 \"Not Found\";\n        }\n"
         "    }\n"
         "}\n";
}

}  // namespace mb::server
