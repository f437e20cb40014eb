// The nginx configuration of a static export. It does not depend on the
// release: nginx finds each answer as a file of the export that the link
// OUT/current names (pause.txt, notice/F.txt, F/component/manifest.txt,
// F/component/p/PROGRAM, F/outlook/v/LABEL/... for a version folder,
// root/N.txt for a root of trust), so a
// new export is served as soon as the link is swapped, without a reload.
// A request resolves the link once and looks only into that export, so it
// never mixes two. Query values become paths only in forms that cannot
// leave their folder (digits, "-" and "*" for program, a version label);
// a raw path that nginx would have to decode or normalise to match answers
// 404, as mailbeacon-server answers it (runs of "/" are merged by both).
#pragma once

#include <string>

namespace mb::server {

struct ExportLayout {
  std::string release_link;  // absolute: OUT/current
  std::string vdir;          // normalised: "" or "/x"
  std::string listen;        // "127.0.0.1:8080"
  int text_max_age = 2;
  int file_max_age = 60;
  // The origin mailbeacon-server (export --origin ADDR:PORT), which takes the
  // reports and keeps the rollout state; empty: none (nginx_origin.h).
  std::string origin;
  std::string pause_cache;  // absolute: OUT/pause-cache, made by nginx
};

// Where the export keeps the file of a "program" value, below its
// component folder: "p/VALUE", a long value cut into folders of
// kProgramSegment characters ("p/SEG.d/SEG"), as file names are limited.
std::string ExportedProgramPath(const std::string& program);
constexpr std::size_t kProgramSegment = 200;
constexpr std::size_t kProgramSegments = 6;  // 1,200 characters; names reach about 1,020

// For the http {} block: the maps.
std::string NginxMaps(const ExportLayout& layout);
// For a server {} block: the locations.
std::string NginxLocations(const ExportLayout& layout);
// A complete configuration around both, for `nginx -p OUT -c nginx.conf`.
std::string NginxConf(const ExportLayout& layout);

// Characters an exported path may not hold: nginx would read them as
// quotes, escapes, variables or arguments.
bool FitsNginxConfig(const std::string& path);

// A string in double quotes, as the configuration takes a path or pattern
// (FitsNginxConfig keeps quotes out of it).
std::string Quote(const std::string& s);
// s matched literally in a regular expression.
std::string RegexEscaped(const std::string& s);

}  // namespace mb::server
