// ASCII letter case: Windows compares file names, INI section and key
// names without regard to the case of ASCII letters, and so do the rules
// the agent, the updater and the server share. Bytes outside A-Z and a-z
// (UTF-8, ANSI code pages) are left as they are.
#pragma once

#include <string>
#include <string_view>

namespace mb::ascii {

inline char ToLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string ToLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = ToLower(c);
  return out;
}

inline bool EqualFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ToLower(a[i]) != ToLower(b[i])) return false;
  }
  return true;
}

}  // namespace mb::ascii
