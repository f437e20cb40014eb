// Byte codings of signed releases: base64 (keys, signatures) and lower-case
// hexadecimal (digests, key ids).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mb::trust {

// RFC 4648 base64 with padding, as `base64 -w0` writes it.
std::string Base64Encode(std::string_view bytes);
// Only the strict form: the standard alphabet, whole groups of four,
// padding where it belongs and nowhere else; nothing for anything else.
std::optional<std::string> Base64Decode(std::string_view text);

std::string LowerHex(std::string_view bytes);
// True for exactly `digits` characters of 0-9 a-f.
bool IsLowerHex(std::string_view text, std::size_t digits);

}  // namespace mb::trust
