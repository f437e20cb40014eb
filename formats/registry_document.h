// A .reg file held in memory: its text as read, and where each key's
// section and each value's line(s) sit in it, so a write can replace one
// value and leave every other byte of the file as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace mb::formats {

struct RegValueData {
  std::uint32_t type = 0;
  // Raw data as stored; for a quoted value ("name"="text") the UTF-8 text
  // without its terminating NUL.
  std::string bytes;
  bool quoted = false;
};

struct RegValueEntry {
  std::string name;  // UTF-8, "" for the default value (@)
  std::string folded_name;
  RegValueData data;
  std::size_t begin = 0;  // the value's line(s) in the text, without the
  std::size_t end = 0;    // final line end
};

struct RegSection {
  std::string folded_path;      // see FoldKeyPath
  std::size_t content_end = 0;  // end of the header or of its last value line
  std::vector<RegValueEntry> values;
};

struct RegDocument {
  std::string text;                  // the whole file as UTF-8
  bool unicode = false;              // version 5.00: hex string data is UTF-16LE (else ANSI)
  std::string eol;                   // "\r\n" or "\n", as the header line ends
  std::vector<RegSection> sections;  // "[-...]" deletion sections left out
  std::set<std::string> keys;        // folded paths of every existing key

  // A key exists when a section names it or any key below it.
  bool HasKey(const std::string& folded_path) const;
  // The value a regedit import would leave: its last definition.
  const RegValueEntry* FindValue(const std::string& folded_path,
                                 const std::string& folded_name) const;
  const RegSection* LastSection(const std::string& folded_path) const;
};

// "HKCU\Software\X" -> "HKEY_CURRENT_USER\software\x": the root spelled out
// in full, the rest case-folded, empty components dropped. Empty when the
// root is not one regedit knows.
std::optional<std::string> FoldKeyPath(const std::string& path);

struct RegParseResult {
  std::optional<RegDocument> document;
  int bad_line = 0;  // 1-based, when the text is malformed
};

RegParseResult ParseRegistryText(std::string text);

// A .reg file's bytes (UTF-8, or UTF-16LE after its BOM as regedit exports)
// decoded and parsed; bad_line is the first line that cannot be decoded or
// read.
RegParseResult ParseRegistryFile(const std::string& bytes);

}  // namespace mb::formats
