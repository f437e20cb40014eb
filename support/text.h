// Small text rules the agent applies in several places.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mb::text {

// Removes trailing space characters (only " ", as the agent's trimming does).
std::string TrimTrailingSpaces(std::string_view s);
// Removes leading and trailing space characters.
std::string TrimSpaces(std::string_view s);
// Removes every occurrence of `what` from s.
std::string RemoveAll(std::string_view s, std::string_view what);
// Trims spaces, then removes every NUL: how settings from the registry are cleaned.
std::string Clean(std::string_view s);
// ASCII lower case.
std::string ToLowerAscii(std::string_view s);
// Splits at every occurrence of sep; an empty piece still counts.
std::vector<std::string> Split(std::string_view s, char sep);
bool Contains(std::string_view s, std::string_view what);

}  // namespace mb::text
