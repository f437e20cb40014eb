// One file of a download list.
#pragma once

#include <string>
#include <vector>

namespace mb {

struct FileRecord {
  std::string Name;  // name on the server and in UpdateDir
  std::string Version;
  std::string OrgName;    // installed name; emptied once installed directly
  std::string TargetDir;  // resolved target directory
  std::string SelfRegister;
  std::string DownloadUrl;
  std::string BackUp;       // "YES" when Name and OrgName differ, else "NO"
  std::string LastVersion;  // the manifest's LAST_VERSION, as read
  std::string Hash;         // expected MD5 digest, or empty
  std::string Sha256;       // signed releases: the file's signed SHA-256
  std::string Length;       // signed releases: its signed length in bytes, when given
};

using DownloadList = std::vector<FileRecord>;

}  // namespace mb
