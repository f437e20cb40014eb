// "mailbeacon-server export": every answer of a release folder written as
// files, with an nginx configuration that answers the agents' requests with
// them exactly as mailbeacon-server does.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace mb::server {

// What `export --help` prints.
extern const char* const kExportUsage;

// Runs the export command on its arguments (after "export"); the exit status.
int RunExport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mb::server
