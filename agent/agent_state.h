// The agent object's state and the small types every area shares.
#pragma once

#include <cstdint>
#include <string>

#include "support/int16.h"

namespace mb {

// Which component a pass, manifest or section belongs to.
enum ComponentKind : std::int16_t {
  kOutlookAddin = 0,
  kExpressPlugin = 1,
  kAgentComponent = 2,
};

// Message language.
enum LanguageCode : std::int16_t { kKorean = 0, kEnglish = 1 };

// What the server's pause file allows: installing from the primary folder
// ("N", also when the state cannot be had), from the mirror ("Y"), or not
// now ("R", maintenance).
enum class ServerState { kOrg, kMirror, kRefused };

// Lives as long as the process; the fields are those every run reads.
struct AgentState {
  std::string ServerUrl;
  std::string VirtualDir;
  std::int16_t Language = kKorean;
  std::string FolderParam;  // "&Folder=ORG" / "&Folder=MIRROR", kept across runs
  bool UpdateDue = false;
  std::int16_t InstalledKind = kOutlookAddin;
  Int16 FilesToDownload;
  bool RetryPending = false;
  std::string DownloadIniPath;  // UpdateDir\mailbeacon_download.ini
  std::string InstallIniPath;   // UpdateDir\install_version.ini
  std::string UpdateDir;        // install directory & "\update"
};

}  // namespace mb
