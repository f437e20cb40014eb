#include "server/nginx_config.h"

#include <algorithm>
#include <map>
#include <set>

namespace mb::server {
namespace {

const char* const kEndpoints[] = {"outlook_dll", "express_exe", "agent_exe"};

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

std::string RegexEscaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (std::string_view(".^$*+?()[]{}|\\").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The component folder an Outlook add-in request reaches, from
// "FOLDER/version": a version folder by its label, else the component's.
std::string OutlookDirMap(const ExportLayout& layout) {
  std::string out =
      "map \"$mailbeacon_folder/$arg_version\" $mailbeacon_outlook_dir {\n"
      "    default \"\";\n";
  std::set<std::string> folders;
  for (const ExportedAnswer& a : layout.answers) {
    if (a.endpoint != "outlook_dll" || !a.program.empty()) continue;
    if (a.label.empty())
      folders.insert(a.folder);
    else
      out +=
          "    " + Quote(a.folder + "/" + a.label) + " " + Quote(a.folder + "/" + a.label) + ";\n";
  }
  for (const std::string& f : folders)
    out += "    " + Quote("~^" + f + "/") + " " + Quote(f) + ";\n";
  return out + "}\n";
}

// The exported file of each request of one endpoint.
std::string FileMap(const ExportLayout& layout, const std::string& endpoint) {
  bool outlook = endpoint == "outlook_dll";
  std::string out = "map \"" +
                    std::string(outlook ? "$mailbeacon_outlook_dir" : "$mailbeacon_folder") +
                    "|$arg_program\" $mailbeacon_" + endpoint + " {\n    default \"\";\n";
  for (const ExportedAnswer& a : layout.answers) {
    if (a.endpoint != endpoint) continue;
    std::string dir = outlook && !a.label.empty() ? a.folder + "/" + a.label : a.folder;
    out += "    " + Quote(dir + "|" + a.program) + " " + Quote(a.file) + ";\n";
  }
  return out + "}\n";
}

// Room for the longest map key (a long encoded name), in the power of two
// nginx wants.
std::size_t BucketSize(const ExportLayout& layout) {
  std::size_t longest = 0;
  for (const ExportedAnswer& a : layout.answers)
    longest = std::max(longest, a.folder.size() + a.label.size() + a.program.size() + 8);
  std::size_t size = 64;
  while (size < longest + 32) size *= 2;
  return size;
}

}  // namespace

std::string NginxMaps(const ExportLayout& layout) {
  std::string prefix = layout.vdir + "/download/";
  std::string out =
      "# mailbeacon-server export: include in the http {} block.\n"
      "# Long encoded names need roomy map buckets (drop these two lines if the\n"
      "# http {} block sets them already, with values at least as large).\n"
      "map_hash_bucket_size " +
      std::to_string(BucketSize(layout)) +
      ";\n"
      "map_hash_max_size " +
      std::to_string(std::max<std::size_t>(2048, layout.answers.size() * 2)) +
      ";\n"
      "# The server folder: ORG when Folder is absent or empty (nginx reads query\n"
      "# keys and these values without regard to case, as mailbeacon-server does).\n"
      "map $arg_folder $mailbeacon_folder {\n    default \"\";\n    \"\" ORG;\n"
      "    ORG ORG;\n    MIRROR MIRROR;\n}\n";
  out += OutlookDirMap(layout);
  for (const char* e : kEndpoints) out += FileMap(layout, e);
  out += "map $mailbeacon_folder $mailbeacon_notice {\n    default \"\";\n";
  for (const std::string& f : layout.notice_folders)
    out += "    " + f + " " + Quote("/notice/" + f + ".txt") + ";\n";
  out += "}\n";
  out += "map $uri $mailbeacon_file {\n    default \"\";\n";
  out += "    " + Quote(prefix + "pause.aspx") + " /pause.txt;\n";
  out += "    " + Quote(prefix + "update_notice.aspx") + " $mailbeacon_notice;\n";
  for (const char* e : kEndpoints)
    out += "    " + Quote(prefix + e + ".aspx") + " $mailbeacon_" + e + ";\n";
  out += "}\n";
  out += "map $mailbeacon_file $mailbeacon_expires {\n    default " +
         std::to_string(layout.text_max_age) + "s;\n    \"~\\.bin$\" " +
         std::to_string(layout.file_max_age) + "s;\n}\n";
  return out;
}

std::string NginxLocations(const ExportLayout& layout) {
  std::string prefix = RegexEscaped(Lower(layout.vdir) + "/download/");
  std::string names = "(pause|update_notice|outlook_dll|express_exe|agent_exe)\\.aspx";
  return "# mailbeacon-server export: include in a server {} block (the maps go in\n"
         "# http {}).\n"
         "location ~* " +
         Quote("^" + prefix + names + "$") +
         " {\n"
         "    root " +
         layout.answers_dir +
         ";\n"
         "    types { text/plain txt aspx; }\n"
         "    default_type application/octet-stream;\n"
         "    expires $mailbeacon_expires;\n"
         "    # Only the path as sent: nothing decoded, no \"//\" or \"/./\".\n"
         "    if ($request_uri !~* " +
         Quote("^" + prefix + names + "(\\?|$)") +
         ") {\n"
         "        return 404 \"Not Found\";\n    }\n"
         "    if ($mailbeacon_file = \"\") {\n        return 404 \"Not Found\";\n    }\n"
         "    rewrite ^ $mailbeacon_file break;\n"
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
         "    open_file_cache_valid 1s;  # a new export shows within a second\n"
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
