// The vendor's description files of a release folder (release.ini and
// files.ini): UTF-8 INI text read by the agents' own INI document, so section
// and key names match without regard to case and the first of a name wins,
// as on Windows. Values are taken as written, trimmed. A UTF-8 byte order
// mark is skipped.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "formats/profile_document.h"

namespace mb::server {

// A missing file reads as an empty one; a refused one (a link, not a
// regular file: see release_read.h) as nothing, with the reason in why.
std::optional<formats::ProfileDocument> ReadReleaseIni(const std::filesystem::path& path,
                                                       std::string& why);

// The value of section/key, or nothing when either is missing.
std::optional<std::string> IniValue(const formats::ProfileDocument& ini, std::string_view section,
                                    std::string_view key);

}  // namespace mb::server
