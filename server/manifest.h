// The manifest of one component: INI text in the agents' ANSI code page,
// CRLF line ends, generated from the files the component folder holds.
//
//   [DOWNLOAD]  TOTAL_FILES, LAST_VERSION
//   [FILE_1] .. [FILE_n]  NAME, VERSION, ORG_NAME, TARGET_DIR, SELF_REGISTER, HASH
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "server/ansi_code_page.h"

namespace mb::server {

struct ManifestResult {
  std::optional<std::string> text;    // nothing when the folder cannot be published
  std::vector<std::string> warnings;  // files left out and other findings, for the log
};

// Reads release.ini's [RELEASE] LAST_VERSION and the folder's files; a file
// whose name or values the code page cannot hold is left out.
ManifestResult BuildManifest(const std::filesystem::path& component_dir, const AnsiCodePage& cp);

}  // namespace mb::server
