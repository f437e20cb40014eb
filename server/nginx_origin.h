// The parts of a static export's nginx configuration that reach the origin
// mailbeacon-server (`export --origin ADDR:PORT`): what no file can answer.
//   - report.aspx goes to the origin, where it is counted (and may halt a
//     release); nothing caches it.
//   - pause.aspx comes from the origin too, through a cache kept for the
//     answer's max-age (--max-age, 2 s): the pause answer carries the
//     rollout shares, which change without a new export (a `rollout`
//     command, a release the origin halted by itself), so they reach the
//     agents within seconds, while the origin sees about one pause request
//     per max-age whatever the fleet. When the origin cannot be reached,
//     the last answer cached is served, else the export's own pause.txt.
// The origin must serve the same release folder under the same --vdir.
// Without an origin these parts are empty: report.aspx answers 404 (no
// agent minds) and pause.aspx is the export's file.
#pragma once

#include <string>

#include "server/nginx_config.h"

namespace mb::server {

// For the http {} block, after NginxMaps.
std::string NginxOriginMaps(const ExportLayout& layout);
// For the server {} block, before NginxLocations (its locations must come
// first: nginx takes the first regular expression that matches).
std::string NginxOriginLocations(const ExportLayout& layout);

// An origin nginx can be given: HOST:PORT or [IPV6]:PORT.
bool IsOriginAddress(const std::string& origin);

}  // namespace mb::server
