// "mailbeacon-server publish": puts a component's release in place under a
// release root in one step, after checking it as the server would serve it
// there (server/publish/release_check.h), and keeps the release it replaced
// (server/publish/folder_swap.h):
//
//   mailbeacon-server publish --root ROOT --component FOLDER/COMPONENT
//                             --release DIR [--codepage N]
//
// FOLDER is ORG or MIRROR, COMPONENT outlook, express or agent; DIR a
// complete component folder (release.ini, files.ini, the files, perhaps a
// signature.ini and, for the add-in, version folders).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace mb::server {

// What `publish --help` prints.
extern const char* const kPublishUsage;

// Runs the publish command on its arguments (after "publish"); the exit
// status: 0 published (warnings may have been printed) or already in place,
// 1 not published (the release would be refused, or a step failed), 2 a
// bad command line.
int RunPublish(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mb::server
