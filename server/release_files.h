// The files a component folder publishes, with what files.ini says of each.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "formats/profile_document.h"

namespace mb::server {

struct PublishedFile {
  std::string name;  // UTF-8, as on disk; the manifest's NAME
  std::string version;
  std::string org_name;
  std::string target_dir;
  std::string self_register;
  std::filesystem::path path;
};

// False for the description files (release.ini, files.ini, the signature
// signature.ini) and names that begin with ".": those are never published
// or served.
bool IsReleaseFileName(const std::string& name);

// Every regular file of dir except the description files and names that
// begin with "."; sorted by files.ini's ORDER (files without one last), then
// by name. A file's VERSION defaults to last_version, ORG_NAME to its name,
// TARGET_DIR to ".", SELF_REGISTER to "N". Files that cannot be published
// safely are left out, with the reason added to warnings; so are links
// (release_read.h).
std::vector<PublishedFile> ListPublishedFiles(const std::filesystem::path& dir,
                                              const formats::ProfileDocument& files_ini,
                                              const std::string& last_version,
                                              std::vector<std::string>& warnings);

}  // namespace mb::server
