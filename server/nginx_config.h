// The nginx configuration of a static export: maps from the agents' query
// values to the exported files, and the locations that serve them. Only
// values the export wrote are in the maps, so no query value ever becomes
// a path; a raw path that nginx would have to decode or normalise to match
// answers 404, as mailbeacon-server does.
#pragma once

#include <string>
#include <vector>

namespace mb::server {

struct ExportedAnswer {
  std::string folder;    // "ORG" or "MIRROR"
  std::string endpoint;  // "outlook_dll", "express_exe", "agent_exe"
  std::string label;     // an Outlook version folder; empty for the component folder
  std::string program;   // empty for the manifest
  std::string file;      // below the answers folder: "/ORG/express/f/1.bin"
};

struct ExportLayout {
  std::string answers_dir;  // absolute
  std::string vdir;         // normalised: "" or "/x"
  std::string listen;       // "127.0.0.1:8080"
  int text_max_age = 2;
  int file_max_age = 60;
  std::vector<std::string> notice_folders;  // folders with a notice
  std::vector<ExportedAnswer> answers;
};

// For the http {} block: the maps.
std::string NginxMaps(const ExportLayout& layout);
// For a server {} block: the locations.
std::string NginxLocations(const ExportLayout& layout);
// A complete configuration around both, for `nginx -p OUT -c nginx.conf`.
std::string NginxConf(const ExportLayout& layout);

}  // namespace mb::server
