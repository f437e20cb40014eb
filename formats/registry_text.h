// Text helpers of the .reg store: decoding the file's bytes, UTF-16LE data,
// case-insensitive names and ANSI conversion of NUL-separated string data.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/codepage.h"

namespace mb::formats {

// The file's bytes as UTF-8 text. A UTF-16LE file (FF FE BOM, as regedit
// exports) is converted and loses its BOM; a UTF-8 file is returned as is,
// BOM included. On failure *bad_line is the 1-based line of the first byte
// that cannot be decoded.
std::optional<std::string> DecodeRegistryBytes(const std::string& bytes, int* bad_line);

bool IsValidUtf8(const std::string& text, std::size_t* bad_offset = nullptr);

// UTF-16LE data <-> UTF-8. NUL code units become NUL bytes and back; units
// that do not form a character become U+FFFD.
std::string Utf16leToUtf8(const std::string& utf16le);
std::string Utf8ToUtf16le(const std::string& utf8);

// Registry names compare case-insensitively: ASCII, Latin-1, Greek and
// Cyrillic letters fold to lower case (Korean and CJK have no case).
std::string FoldCase(const std::string& utf8);

// String data may hold several NUL-separated strings (REG_MULTI_SZ); each
// piece is converted on its own so the NULs survive any code page.
std::string ToAnsiPieces(const platform::CodePage& cp, const std::string& utf8);
std::string FromAnsiPieces(const platform::CodePage& cp, const std::string& ansi);

}  // namespace mb::formats
