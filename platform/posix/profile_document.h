// One private-profile (INI) file held in memory as its lines, with hash
// indexes over sections and keys. Lines the caller never asked to change
// keep their bytes exactly (odd line ends, NULs, junk), so writing the file
// back changes only what was set.
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
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace mb::posix {

bool IsIniSpace(char c);
// The name as the API sees it: up to its first NUL, trimmed.
std::string_view NormalizeIniName(std::string_view name);
// ASCII lower case, the key of the indexes.
std::string FoldIniCase(std::string_view name);
// True when the lines "[section]" and "key=value" read back as this section,
// key and value: names not empty, no line break anywhere, a key without "="
// that does not start like a section or a comment. Takes normalised names,
// so a refused write cannot slip extra lines or keys into the file.
bool CanWriteIniEntry(std::string_view section, std::string_view key, std::string_view value);

class ProfileDocument {
 public:
  ProfileDocument() = default;
  explicit ProfileDocument(std::string_view bytes);
  ProfileDocument(const ProfileDocument&) = delete;
  ProfileDocument& operator=(const ProfileDocument&) = delete;

  // The raw value of section/key (trimmed, quotes kept); false when the
  // section or key is missing or the key line has no "=". Names must be
  // normalised already.
  bool Find(std::string_view section, std::string_view key, std::string_view& value) const;
  bool HasSection(std::string_view section) const;

  // Sets section/key = value: replaces the first matching key line in place
  // (as key=value, keeping the key's spelling and line end), or adds the key
  // after its section's last entry, or appends the section at the end.
  // New lines end in CRLF. Returns false when the value was already there.
  bool Set(std::string_view section, std::string_view key, std::string_view value);

  std::string Serialize() const;

 private:
  enum class LineEnd : std::uint8_t { kNone, kLf, kCr, kCrLf };
  struct Line {
    std::string text;
    LineEnd end = LineEnd::kNone;
  };
  using LineIt = std::list<Line>::iterator;
  struct Span {
    std::size_t pos = 0;
    std::size_t len = 0;
  };
  struct Entry {
    LineIt line;
    Span name;
    Span value;
    bool has_value = false;
  };
  // The keys of one section, first spelling wins. Sections are small, so a
  // flat vector searched in order keeps a lookup within a cache line or two
  // and a document of thousands of sections few allocations; a section that
  // grows large gets a hash index as well.
  class KeyIndex {
   public:
    const Entry* Find(const std::string& folded) const;
    Entry* Find(const std::string& folded) {
      return const_cast<Entry*>(static_cast<const KeyIndex&>(*this).Find(folded));
    }
    void Add(std::string folded, const Entry& entry);  // ignored when present

   private:
    static constexpr std::size_t kHashFrom = 16;
    std::vector<std::pair<std::string, Entry>> entries_;
    std::unordered_map<std::string, std::size_t> hash_;  // built from kHashFrom keys on
  };
  struct Section {
    LineIt header;
    LineIt last_entry;  // where the next new key goes
    KeyIndex keys;
  };

  void AddLine(std::string_view text, LineEnd end);
  void IndexLine(LineIt line);
  void IndexEntry(Section& section, LineIt line);
  static Entry ParseEntry(LineIt line);
  static void Terminate(Line& line);
  static std::string_view Text(const Entry& entry, Span span);
  void RewriteEntry(Entry& entry, std::string_view value);
  void InsertEntry(Section& section, std::string_view key, std::string_view value);
  void AppendSection(std::string_view section, std::string_view key, std::string_view value);

  std::list<Line> lines_;
  std::unordered_map<std::string, Section> sections_;
  Section* current_ = nullptr;  // section being indexed while parsing
};

}  // namespace mb::posix
