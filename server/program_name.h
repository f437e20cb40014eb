// The numeric encoding of file names in the "program" query value.
//
// The agent sends a file name as one decimal number per character, each
// followed by a separator ("*"): the character's ANSI code plus the key sum
// of "OldMap". A single-byte character has its code 0..255; a double-byte
// character is its two bytes read as a signed 16-bit number, first byte high.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mb::server {

// Sum of the ASCII codes of "OldMap", added to every character code.
inline constexpr int kNameKeySum = 'O' + 'l' + 'd' + 'M' + 'a' + 'p';

// One character of a name in the ANSI code page: one byte, or two bytes of a
// double-byte character (lead byte first).
using AnsiChar = std::string;

// Turns a "program" value back into the name's ANSI bytes. Returns nothing
// when the value is malformed: empty, a number not followed by "*", anything
// but an optional minus sign and digits, or a code outside the 16-bit range.
std::optional<std::string> DecodeProgramName(std::string_view encoded);

// The agent's encoding of a name given as its ANSI characters.
std::string EncodeProgramName(const std::vector<AnsiChar>& chars);

}  // namespace mb::server
