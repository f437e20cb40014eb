#include "formats/profile_document.h"

#include <algorithm>
#include <utility>

namespace mb::formats {

namespace {

struct Range {
  std::size_t pos = 0;
  std::size_t len = 0;
};

enum class Kind { kBlank, kComment, kSection, kEntry };

struct Shape {
  Kind kind = Kind::kBlank;
  Range name;
  Range value;
  bool has_value = false;
};

// Cuts text[pos, pos+len) at its first NUL, then trims blanks off both ends.
Range NameRange(std::string_view text, std::size_t pos, std::size_t len) {
  const std::size_t nul = text.substr(pos, len).find('\0');
  if (nul != std::string_view::npos) len = nul;
  while (len > 0 && IsIniSpace(text[pos])) {
    ++pos;
    --len;
  }
  while (len > 0 && IsIniSpace(text[pos + len - 1])) --len;
  return {pos, len};
}

Shape Classify(std::string_view text) {
  std::size_t first = 0;
  while (first < text.size() && IsIniSpace(text[first])) ++first;
  if (first == text.size()) return {};
  if (text[first] == ';') return {Kind::kComment, {}, {}, false};
  if (text[first] == '[') {
    const std::size_t close = text.rfind(']');
    if (close != std::string_view::npos && close > first) {
      return {Kind::kSection, NameRange(text, first + 1, close - first - 1), {}, false};
    }
  }
  const std::size_t eq = text.find('=', first);
  if (eq == std::string_view::npos) {
    return {Kind::kEntry, NameRange(text, first, text.size() - first), {}, false};
  }
  return {Kind::kEntry, NameRange(text, first, eq - first),
          NameRange(text, eq + 1, text.size() - eq - 1), true};
}

// The first CR or LF at or after pos, or npos. A plain loop: find_first_of
// would search its two-byte set once per byte of the file.
std::size_t LineBreakFrom(std::string_view bytes, std::size_t pos) {
  while (pos < bytes.size() && bytes[pos] != '\n' && bytes[pos] != '\r') ++pos;
  return pos < bytes.size() ? pos : std::string_view::npos;
}

bool EqualFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

bool IsIniSpace(char c) {
  // ^Z (DOS end of file) counts as a blank, as Wine treats it.
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string_view NormalizeIniName(std::string_view name) {
  const Range r = NameRange(name, 0, name.size());
  return name.substr(r.pos, r.len);
}

bool CanWriteIniEntry(std::string_view section, std::string_view key, std::string_view value) {
  const auto breaks = [](std::string_view s) { return s.find_first_of("\r\n") != s.npos; };
  if (section.empty() || key.empty()) return false;
  if (breaks(section) || breaks(key) || breaks(value)) return false;
  return key.find('=') == key.npos && key.front() != '[' && key.front() != ';';
}

ProfileDocument::ProfileDocument(std::string bytes) : text_(std::move(bytes)) {
  if (text_.size() > kMaxBytes) text_.resize(kMaxBytes);  // the store never hands such a file
  live_bytes_ = text_.size();
  Parse();
}

void ProfileDocument::Parse() {
  // Room for every section up front, so the indexes do not grow while a
  // large file is read (bounded: a file of junk "[" must not claim memory).
  constexpr std::size_t kMaxReserved = 1 << 16;
  const std::string_view bytes = text_;
  const auto brackets = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '['));
  const auto equals = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '='));
  sections_.reserve(std::min(brackets, kMaxReserved));
  section_index_.Reserve(std::min(brackets, kMaxReserved));
  entries_.reserve(std::min(equals, kMaxReserved * 8));
  lines_.reserve(std::min(brackets + equals + 1, kMaxReserved * 16));
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t stop = LineBreakFrom(bytes, pos);
    Line line;
    line.pos = static_cast<std::uint32_t>(pos);
    if (stop == std::string_view::npos) {
      line.len = static_cast<std::uint32_t>(bytes.size() - pos);
      pos = bytes.size();
    } else {
      line.len = static_cast<std::uint32_t>(stop - pos);
      line.end = LineEnd::kLf;
      pos = stop + 1;
      if (bytes[stop] == '\r') {
        const bool crlf = pos < bytes.size() && bytes[pos] == '\n';
        line.end = crlf ? LineEnd::kCrLf : LineEnd::kCr;
        if (crlf) ++pos;
      }
    }
    const auto index = static_cast<std::uint32_t>(lines_.size());
    if (last_line_ != kNone) lines_[last_line_].next = index;
    if (first_line_ == kNone) first_line_ = index;
    last_line_ = index;
    lines_.push_back(line);
    IndexLine(index);
  }
  current_ = kNone;
}

std::uint32_t ProfileDocument::FindSection(std::string_view section) const {
  return section_index_.Find(HashIniName(section), [&](std::uint32_t s) {
    return EqualFolded(Text(sections_[s].name), section);
  });
}

std::uint32_t ProfileDocument::FindEntry(std::uint32_t section, std::string_view key) const {
  const Section& s = sections_[section];
  if (s.entry_count > kChainedKeys) {
    return entry_index_.Find(HashIniName(key, section), [&](std::uint32_t e) {
      return entries_[e].section == section && EqualFolded(Text(entries_[e].name), key);
    });
  }
  for (std::uint32_t e = s.first_entry; e != kNone; e = entries_[e].next) {
    const Entry& entry = entries_[e];
    if (entry.name.len == key.size() && EqualFolded(Text(entry.name), key)) return e;
  }
  return kNone;
}

bool ProfileDocument::Find(std::string_view section, std::string_view key,
                           std::string_view& value) const {
  const std::uint32_t s = FindSection(section);
  if (s == kNone) return false;
  const std::uint32_t e = FindEntry(s, key);
  if (e == kNone || !entries_[e].has_value) return false;
  value = Text(entries_[e].value);
  return true;
}

bool ProfileDocument::HasSection(std::string_view section) const {
  return FindSection(section) != kNone;
}

std::vector<std::string_view> ProfileDocument::SectionNames() const {
  std::vector<std::string_view> names;
  names.reserve(sections_.size());
  for (const Section& s : sections_) names.push_back(Text(s.name));
  return names;
}

ProfileDocument::SetResult ProfileDocument::Set(std::string_view section, std::string_view key,
                                                std::string_view value) {
  // The most a write adds: "[section]" and "key=value", each ending in CRLF.
  if (!Fits(section.size() + key.size() + value.size() + 8)) return SetResult::kTooLarge;
  const std::uint32_t s = FindSection(section);
  if (s == kNone) {
    AppendSection(section, key, value);
    return SetResult::kChanged;
  }
  const std::uint32_t e = FindEntry(s, key);
  if (e == kNone) {
    InsertEntry(s, key, value);
    return SetResult::kChanged;
  }
  Entry& entry = entries_[e];
  if (entry.has_value && Text(entry.value) == value) return SetResult::kUnchanged;
  RewriteEntry(entry, value);
  return SetResult::kChanged;
}

std::string ProfileDocument::Serialize() const {
  std::string out;
  out.reserve(live_bytes_ + 2 * lines_.size());
  for (std::uint32_t i = first_line_; i != kNone; i = lines_[i].next) {
    const Line& line = lines_[i];
    out.append(text_, line.pos, line.len);
    switch (line.end) {
      case LineEnd::kNone:
        break;
      case LineEnd::kLf:
        out += '\n';
        break;
      case LineEnd::kCr:
        out += '\r';
        break;
      case LineEnd::kCrLf:
        out += "\r\n";
        break;
    }
  }
  return out;
}

bool ProfileDocument::Fits(std::size_t more) {
  // Rewritten lines leave their old text behind; once most of the buffer
  // is such text, start again from the live lines.
  constexpr std::size_t kCompactFrom = 1 << 20;
  const bool wasteful = text_.size() > kCompactFrom && text_.size() / 2 > live_bytes_;
  if (wasteful || text_.size() + more > kMaxBytes) {
    if (live_bytes_ + 2 * lines_.size() + more > kMaxBytes) return false;
    *this = ProfileDocument(Serialize());
  }
  return true;
}

std::uint32_t ProfileDocument::AppendLine(std::uint32_t after, std::string_view text, LineEnd end) {
  const auto index = static_cast<std::uint32_t>(lines_.size());
  Line line;
  line.pos = static_cast<std::uint32_t>(text_.size());
  line.len = static_cast<std::uint32_t>(text.size());
  line.end = end;
  text_ += text;
  live_bytes_ += text.size();
  if (after == kNone) {
    line.next = first_line_;
    first_line_ = index;
  } else {
    line.next = lines_[after].next;
    lines_[after].next = index;
  }
  if (after == last_line_) last_line_ = index;
  lines_.push_back(line);
  return index;
}

void ProfileDocument::IndexLine(std::uint32_t line) {
  const Line& l = lines_[line];
  const Shape shape = Classify(std::string_view(text_).substr(l.pos, l.len));
  if (shape.kind == Kind::kEntry) {
    if (current_ != kNone) IndexEntry(current_, line);
    return;
  }
  if (shape.kind != Kind::kSection) return;
  current_ = kNone;  // entries of a nameless or repeated section are never read
  const Span name{static_cast<std::uint32_t>(l.pos + shape.name.pos),
                  static_cast<std::uint32_t>(shape.name.len)};
  if (name.len == 0 || FindSection(Text(name)) != kNone) return;
  current_ = static_cast<std::uint32_t>(sections_.size());
  sections_.push_back(Section{name, line});
  section_index_.Insert(HashIniName(Text(name)), current_);
}

void ProfileDocument::IndexEntry(std::uint32_t section, std::uint32_t line) {
  sections_[section].last_line = line;
  const Entry entry = ParseEntry(section, line);
  if (entry.name.len == 0 || FindEntry(section, Text(entry.name)) != kNone) return;
  const auto index = static_cast<std::uint32_t>(entries_.size());
  entries_.push_back(entry);
  Section& s = sections_[section];
  if (s.last_entry == kNone) {
    s.first_entry = index;
  } else {
    entries_[s.last_entry].next = index;
  }
  s.last_entry = index;
  ++s.entry_count;
  if (s.entry_count == kChainedKeys + 1) {
    for (std::uint32_t e = s.first_entry; e != kNone; e = entries_[e].next) HashEntry(e);
  } else if (s.entry_count > kChainedKeys) {
    HashEntry(index);
  }
}

void ProfileDocument::HashEntry(std::uint32_t entry) {
  const Entry& e = entries_[entry];
  entry_index_.Insert(HashIniName(Text(e.name), e.section), entry);
}

ProfileDocument::Entry ProfileDocument::ParseEntry(std::uint32_t section,
                                                   std::uint32_t line) const {
  const Line& l = lines_[line];
  const Shape shape = Classify(std::string_view(text_).substr(l.pos, l.len));
  const auto at = [&](Range r) {
    return Span{static_cast<std::uint32_t>(l.pos + r.pos), static_cast<std::uint32_t>(r.len)};
  };
  return Entry{kNone, section, line, at(shape.name), at(shape.value), shape.has_value};
}

void ProfileDocument::Terminate(std::uint32_t line) {
  if (lines_[line].end == LineEnd::kNone) lines_[line].end = LineEnd::kCrLf;
}

void ProfileDocument::RewriteEntry(Entry& entry, std::string_view value) {
  std::string text(Text(entry.name));
  text += '=';
  text += value;
  Line& line = lines_[entry.line];
  live_bytes_ -= line.len;
  line.pos = static_cast<std::uint32_t>(text_.size());
  line.len = static_cast<std::uint32_t>(text.size());
  text_ += text;
  live_bytes_ += text.size();
  const std::uint32_t next = entry.next;
  entry = ParseEntry(entry.section, entry.line);
  entry.next = next;
}

void ProfileDocument::InsertEntry(std::uint32_t section, std::string_view key,
                                  std::string_view value) {
  const std::uint32_t after = sections_[section].last_line;
  Terminate(after);
  std::string text(key);
  text += '=';
  text += value;
  IndexEntry(section, AppendLine(after, text, LineEnd::kCrLf));
}

void ProfileDocument::AppendSection(std::string_view section, std::string_view key,
                                    std::string_view value) {
  if (last_line_ != kNone) Terminate(last_line_);
  std::string header = "[";
  header += section;
  header += ']';
  IndexLine(AppendLine(last_line_, header, LineEnd::kCrLf));
  if (current_ != kNone) InsertEntry(current_, key, value);
  current_ = kNone;
}

}  // namespace mb::formats
