#include "platform/posix/profile_document.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace mb::posix {

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

std::string_view Slice(std::string_view text, Range r) { return text.substr(r.pos, r.len); }

// The first CR or LF at or after pos, or npos. A plain loop: find_first_of
// would search its two-byte set once per byte of the file.
std::size_t LineBreakFrom(std::string_view bytes, std::size_t pos) {
  while (pos < bytes.size() && bytes[pos] != '\n' && bytes[pos] != '\r') ++pos;
  return pos < bytes.size() ? pos : std::string_view::npos;
}

}  // namespace

bool IsIniSpace(char c) {
  // ^Z (DOS end of file) counts as a blank, as Wine treats it.
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\x1a';
}

std::string_view NormalizeIniName(std::string_view name) {
  const Range r = NameRange(name, 0, name.size());
  return name.substr(r.pos, r.len);
}

std::string FoldIniCase(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool CanWriteIniEntry(std::string_view section, std::string_view key, std::string_view value) {
  const auto breaks = [](std::string_view s) { return s.find_first_of("\r\n") != s.npos; };
  if (section.empty() || key.empty()) return false;
  if (breaks(section) || breaks(key) || breaks(value)) return false;
  return key.find('=') == key.npos && key.front() != '[' && key.front() != ';';
}

ProfileDocument::ProfileDocument(std::string_view bytes) {
  // Room for every section up front, so the index does not rehash while a
  // large file is read (bounded: a file of junk "[" must not claim memory).
  constexpr std::size_t kMaxReserved = 1 << 16;
  const auto brackets = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '['));
  sections_.reserve(std::min(brackets, kMaxReserved));
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t stop = LineBreakFrom(bytes, pos);
    if (stop == std::string_view::npos) {
      AddLine(bytes.substr(pos), LineEnd::kNone);
      break;
    }
    LineEnd end = LineEnd::kLf;
    std::size_t next = stop + 1;
    if (bytes[stop] == '\r') {
      const bool crlf = next < bytes.size() && bytes[next] == '\n';
      end = crlf ? LineEnd::kCrLf : LineEnd::kCr;
      if (crlf) ++next;
    }
    AddLine(bytes.substr(pos, stop - pos), end);
    pos = next;
  }
  current_ = nullptr;
}

bool ProfileDocument::Find(std::string_view section, std::string_view key,
                           std::string_view& value) const {
  const auto s = sections_.find(FoldIniCase(section));
  if (s == sections_.end()) return false;
  const Entry* k = s->second.keys.Find(FoldIniCase(key));
  if (k == nullptr || !k->has_value) return false;
  value = Text(*k, k->value);
  return true;
}

bool ProfileDocument::HasSection(std::string_view section) const {
  return sections_.count(FoldIniCase(section)) != 0;
}

bool ProfileDocument::Set(std::string_view section, std::string_view key,
                          std::string_view value) {
  const auto s = sections_.find(FoldIniCase(section));
  if (s == sections_.end()) {
    AppendSection(section, key, value);
    return true;
  }
  Entry* k = s->second.keys.Find(FoldIniCase(key));
  if (k == nullptr) {
    InsertEntry(s->second, key, value);
    return true;
  }
  Entry& entry = *k;
  if (entry.has_value && Text(entry, entry.value) == value) return false;
  RewriteEntry(entry, value);
  return true;
}

std::string ProfileDocument::Serialize() const {
  std::size_t total = 0;
  for (const Line& line : lines_) total += line.text.size() + 2;
  std::string out;
  out.reserve(total);
  for (const Line& line : lines_) {
    out += line.text;
    switch (line.end) {
      case LineEnd::kNone: break;
      case LineEnd::kLf: out += '\n'; break;
      case LineEnd::kCr: out += '\r'; break;
      case LineEnd::kCrLf: out += "\r\n"; break;
    }
  }
  return out;
}

void ProfileDocument::AddLine(std::string_view text, LineEnd end) {
  lines_.push_back(Line{std::string(text), end});
  IndexLine(std::prev(lines_.end()));
}

void ProfileDocument::IndexLine(LineIt line) {
  const Shape shape = Classify(line->text);
  if (shape.kind == Kind::kEntry) {
    if (current_ != nullptr) IndexEntry(*current_, line);
    return;
  }
  if (shape.kind != Kind::kSection) return;
  current_ = nullptr;  // entries of a nameless or repeated section are never read
  const std::string name = FoldIniCase(Slice(line->text, shape.name));
  if (name.empty()) return;
  const auto [pos, inserted] = sections_.try_emplace(name);
  if (!inserted) return;
  pos->second.header = line;
  pos->second.last_entry = line;
  current_ = &pos->second;
}

void ProfileDocument::IndexEntry(Section& section, LineIt line) {
  section.last_entry = line;
  Entry entry = ParseEntry(line);
  if (entry.name.len == 0) return;
  section.keys.Add(FoldIniCase(Text(entry, entry.name)), entry);
}

const ProfileDocument::Entry* ProfileDocument::KeyIndex::Find(const std::string& folded) const {
  if (!hash_.empty()) {
    const auto it = hash_.find(folded);
    return it == hash_.end() ? nullptr : &entries_[it->second].second;
  }
  for (const auto& [name, entry] : entries_) {
    if (name == folded) return &entry;
  }
  return nullptr;
}

void ProfileDocument::KeyIndex::Add(std::string folded, const Entry& entry) {
  if (Find(folded) != nullptr) return;
  entries_.emplace_back(std::move(folded), entry);
  if (entries_.size() == kHashFrom) {
    for (std::size_t i = 0; i < entries_.size(); ++i) hash_.emplace(entries_[i].first, i);
  } else if (entries_.size() > kHashFrom) {
    hash_.emplace(entries_.back().first, entries_.size() - 1);
  }
}

ProfileDocument::Entry ProfileDocument::ParseEntry(LineIt line) {
  const Shape shape = Classify(line->text);
  return Entry{line, {shape.name.pos, shape.name.len}, {shape.value.pos, shape.value.len},
               shape.has_value};
}

void ProfileDocument::Terminate(Line& line) {
  if (line.end == LineEnd::kNone) line.end = LineEnd::kCrLf;
}

std::string_view ProfileDocument::Text(const Entry& entry, Span span) {
  return std::string_view(entry.line->text).substr(span.pos, span.len);
}

void ProfileDocument::RewriteEntry(Entry& entry, std::string_view value) {
  std::string text(Text(entry, entry.name));
  text += '=';
  text += value;
  entry.line->text = std::move(text);
  entry = ParseEntry(entry.line);
}

void ProfileDocument::InsertEntry(Section& section, std::string_view key,
                                  std::string_view value) {
  Terminate(*section.last_entry);
  std::string text(key);
  text += '=';
  text += value;
  const LineIt line =
      lines_.insert(std::next(section.last_entry), Line{std::move(text), LineEnd::kCrLf});
  IndexEntry(section, line);
}

void ProfileDocument::AppendSection(std::string_view section, std::string_view key,
                                    std::string_view value) {
  if (!lines_.empty()) Terminate(lines_.back());
  std::string header = "[";
  header += section;
  header += ']';
  AddLine(header, LineEnd::kCrLf);
  if (current_ != nullptr) InsertEntry(*current_, key, value);
  current_ = nullptr;
}

}  // namespace mb::posix
