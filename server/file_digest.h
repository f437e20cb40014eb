// The HASH the server publishes for a file: its MD5 as lower-case hex.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace mb::server {

// Nothing when the file cannot be read to its end.
std::optional<std::string> FileMd5Hex(const std::filesystem::path& path);

}  // namespace mb::server
