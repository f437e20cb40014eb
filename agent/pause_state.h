// The server's pause state from the first line of "pause.txt".
#pragma once

#include <string>

#include "platform/filesystem.h"

namespace mb {

// The first line: the bytes up to the first CR (a lone LF does not end the
// line). Raises error 62 for an empty file, which has no first line. At
// most max_bytes are read.
std::string ReadFirstLine(platform::InputFile& file, std::size_t max_bytes);

// "N" for an empty line or one containing "N"; else "R" if it contains "R";
// else "Y". Case-sensitive.
std::string PauseStateForLine(const std::string& line);

}  // namespace mb
