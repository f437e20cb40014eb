// .reg texts that regedit would not import, each with the first line that
// cannot be read: the format's own parse and the POSIX registry file built
// on it are checked against the same cases.
#pragma once

#include <string>
#include <vector>

namespace mb::test {

struct MalformedRegistry {
  const char* what;
  std::string bytes;
  int bad_line;
};

inline std::vector<MalformedRegistry> MalformedRegistryTexts() {
  using std::string_literals::operator""s;
  return {
      {"no header", "[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\"\n", 1},
      {"empty file", "", 1},
      {"stray text", "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\nbogus line\n", 4},
      {"value before any key", "REGEDIT4\n\"a\"=\"1\"\n[HKEY_CURRENT_USER\\K]\n", 2},
      {"unterminated string", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"cut off", 3},
      {"truncated hex", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=hex:01,02,\\\n", 3},
      {"bad hex byte", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=hex:01,0g\n", 3},
      {"dword too long", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=dword:000000001\n", 3},
      {"unknown root", "REGEDIT4\n[HKEY_NOWHERE\\K]\n", 2},
      {"unclosed key", "REGEDIT4\n[HKEY_CURRENT_USER\\K\n", 2},
      {"not UTF-8", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"\xC7\xD1\"\n", 3},
      {"odd UTF-16", "\xFF\xFER\0E\0G\0"s + "E\0D\0I\0T\0"s + "4\0\n\0["s, 2},
      {"NUL byte", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\0\"\n"s, 3},
  };
}

}  // namespace mb::test
