// One private-profile (INI) file held in memory as its lines, with hash
// indexes over sections and keys. Lines the caller never asked to change
// keep their bytes exactly (odd line ends, NULs, junk), so writing the file
// back changes only what was set.
//
// The layout is flat: the file's bytes in one buffer (text set later is
// appended to it), lines, sections and keys as small records of offsets in
// arrays, linked lines so a key can be added inside a section without
// moving the rest. A manifest of 10,000 files is a few MB in a handful of
// allocations, and reading it in file order walks memory in order.
//
// Reading rules follow GetPrivateProfileStringA; where Windows is unclear we
// do what Wine's profile code does:
// - a line ends at LF, CRLF or a lone CR; the last line may lack one;
// - spaces, tabs, CR, VT, FF and ^Z around names and values are trimmed;
// - "[name]" opens a section; the name runs to the line's last "]" (Wine),
//   so the rest of the line after it is ignored;
// - a line whose first non-blank byte is ";" is a comment (Wine would take
//   it for a key named ";..."; nobody asks for such a key);
// - "key=value" is an entry; a line without "=" is a key without a value,
//   which reads as the caller's default (Wine);
// - names compare case-insensitively (ASCII); a name or value ends at its
//   first NUL byte, as the C strings Windows hands around do;
// - the first section of a name wins, later duplicates are never consulted
//   (Wine); inside it the first key of a name wins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/ini_name_table.h"

namespace mb::formats {

bool IsIniSpace(char c);
// The name as the API sees it: up to its first NUL, trimmed.
std::string_view NormalizeIniName(std::string_view name);
// True when the lines "[section]" and "key=value" read back as this section,
// key and value: names not empty, no line break anywhere, a key without "="
// that does not start like a section or a comment. Takes normalised names,
// so a refused write cannot slip extra lines or keys into the file.
bool CanWriteIniEntry(std::string_view section, std::string_view key, std::string_view value);

class ProfileDocument {
 public:
  // Offsets are 32-bit: larger files are not taken (the store reads them
  // as failed), and Set refuses to grow a document past this.
  static constexpr std::size_t kMaxBytes = 0xFFFFFFF0u;
  enum class SetResult { kUnchanged, kChanged, kTooLarge };

  ProfileDocument() = default;
  explicit ProfileDocument(std::string bytes);  // at most kMaxBytes
  ProfileDocument(const ProfileDocument&) = delete;
  ProfileDocument& operator=(const ProfileDocument&) = delete;
  ProfileDocument(ProfileDocument&&) = default;
  ProfileDocument& operator=(ProfileDocument&&) = default;

  // The raw value of section/key (trimmed, quotes kept); false when the
  // section or key is missing or the key line has no "=". Names must be
  // normalised already. The view lasts until the next Set.
  bool Find(std::string_view section, std::string_view key, std::string_view& value) const;
  bool HasSection(std::string_view section) const;
  // The sections' names in file order, each name once as first spelled
  // (a later "[NAME]" repeating "[name]" is not listed; neither is "[]").
  // The views last until the next Set.
  std::vector<std::string_view> SectionNames() const;

  // Sets section/key = value: replaces the first matching key line in place
  // (as key=value, keeping the key's spelling and line end), or adds the key
  // after its section's last entry, or appends the section at the end.
  // New lines end in CRLF.
  SetResult Set(std::string_view section, std::string_view key, std::string_view value);

  std::string Serialize() const;

 private:
  static constexpr std::uint32_t kNone = IniNameTable::kNone;
  enum class LineEnd : std::uint8_t { kNone, kLf, kCr, kCrLf };
  struct Line {
    std::uint32_t pos = 0;  // in text_
    std::uint32_t len = 0;
    std::uint32_t next = kNone;
    LineEnd end = LineEnd::kNone;
  };
  struct Span {
    std::uint32_t pos = 0;  // in text_
    std::uint32_t len = 0;
  };
  // The keys of a section are chained in file order. Sections are small,
  // and a chain parsed in one go lies in a few consecutive records, so it is
  // searched in order (lengths first); a section grows a hash index of its
  // keys only past kChainedKeys.
  static constexpr std::uint32_t kChainedKeys = 16;
  struct Section {
    Span name;
    std::uint32_t last_line = 0;  // where the next new key goes
    std::uint32_t first_entry = kNone;
    std::uint32_t last_entry = kNone;
    std::uint32_t entry_count = 0;
  };
  struct Entry {
    std::uint32_t next = kNone;  // in the section's chain
    std::uint32_t section = 0;
    std::uint32_t line = 0;
    Span name;
    Span value;
    bool has_value = false;
  };

  std::string_view Text(Span span) const {
    return std::string_view(text_).substr(span.pos, span.len);
  }
  std::uint32_t FindSection(std::string_view section) const;
  std::uint32_t FindEntry(std::uint32_t section, std::string_view key) const;
  void Parse();
  std::uint32_t AppendLine(std::uint32_t after, std::string_view text, LineEnd end);
  void IndexLine(std::uint32_t line);
  void IndexEntry(std::uint32_t section, std::uint32_t line);
  Entry ParseEntry(std::uint32_t section, std::uint32_t line) const;
  void HashEntry(std::uint32_t entry);
  void Terminate(std::uint32_t line);
  bool Fits(std::size_t more);
  void RewriteEntry(Entry& entry, std::string_view value);
  void InsertEntry(std::uint32_t section, std::string_view key, std::string_view value);
  void AppendSection(std::string_view section, std::string_view key, std::string_view value);

  std::string text_;            // the file's bytes, then the text of lines set since
  std::size_t live_bytes_ = 0;  // bytes of text_ still used by a line
  std::vector<Line> lines_;
  std::uint32_t first_line_ = kNone;
  std::uint32_t last_line_ = kNone;
  std::vector<Section> sections_;
  std::vector<Entry> entries_;
  IniNameTable section_index_;     // folded section name -> sections_
  IniNameTable entry_index_;       // section and folded key name -> entries_, large sections
  std::uint32_t current_ = kNone;  // section being indexed while parsing
};

}  // namespace mb::formats
