// The .reg grammar as regedit reads it: a header line, "[key]" sections,
// value lines ("name"="text", @=..., dword:, hex:, hex(N): with "\"
// continuations), ";" comments and blank lines, CRLF or LF.
#include <algorithm>
#include <cstddef>
#include <utility>

#include "formats/registry_document.h"
#include "formats/registry_text.h"

namespace mb::formats {
namespace {

constexpr const char* kHeaderAnsi = "REGEDIT4";
constexpr const char* kHeaderUnicode = "Windows Registry Editor Version 5.00";
constexpr const char* kUtf8Bom = "\xEF\xBB\xBF";

struct Line {
  std::size_t begin = 0;
  std::size_t end = 0;  // before the line end
};

class LineReader {
 public:
  LineReader(const std::string& text, std::size_t start) : text_(text), pos_(start) {}
  bool Next(Line* line) {
    if (pos_ >= text_.size()) return false;
    const std::size_t nl = text_.find('\n', pos_);
    std::size_t end = nl == std::string::npos ? text_.size() : nl;
    if (end > pos_ && text_[end - 1] == '\r') --end;
    *line = {pos_, end};
    pos_ = nl == std::string::npos ? text_.size() : nl + 1;
    ++number_;
    return true;
  }
  int number() const { return number_; }

 private:
  const std::string& text_;
  std::size_t pos_;
  int number_ = 0;
};

// Reads within one line.
class Cursor {
 public:
  Cursor(const std::string& text, const Line& line)
      : text_(&text), pos_(line.begin), end_(line.end) {}
  bool AtEnd() const { return pos_ >= end_; }
  char Peek() const { return (*text_)[pos_]; }
  char Take() { return (*text_)[pos_++]; }
  std::size_t end() const { return end_; }
  void SkipSpace() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\r')) ++pos_;
  }
  // Blank, or only a comment, from here on.
  bool RestIsEmpty() {
    SkipSpace();
    return AtEnd() || Peek() == ';';
  }
  bool TakePrefix(const std::string& prefix) {  // ASCII, case-insensitive
    if (end_ - pos_ < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      char ch = (*text_)[pos_ + i];
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
      if (ch != prefix[i]) return false;
    }
    pos_ += prefix.size();
    return true;
  }
  std::string Rest() const { return text_->substr(pos_, end_ - pos_); }

 private:
  const std::string* text_;
  std::size_t pos_;
  std::size_t end_;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Up to `max_digits` hex digits as a number; false when there is none.
bool TakeHexNumber(Cursor& c, int max_digits, std::uint32_t* out) {
  int digits = 0;
  *out = 0;
  while (!c.AtEnd() && HexDigit(c.Peek()) >= 0 && digits < max_digits) {
    *out = (*out << 4) | static_cast<std::uint32_t>(HexDigit(c.Take()));
    ++digits;
  }
  return digits > 0;
}

// A quoted string; the cursor is on its opening quote. Only \\ and \" are
// escapes, as in regedit; any other backslash is kept.
bool TakeQuoted(Cursor& c, std::string* out) {
  c.Take();
  while (!c.AtEnd()) {
    const char ch = c.Take();
    if (ch == '"') return true;
    if (ch == '\\' && !c.AtEnd() && (c.Peek() == '\\' || c.Peek() == '"')) {
      out->push_back(c.Take());
    } else {
      out->push_back(ch);
    }
  }
  return false;
}

class RegParser {
 public:
  explicit RegParser(std::string text) { doc_.text = std::move(text); }

  RegParseResult Run() {
    const bool bom = doc_.text.rfind(kUtf8Bom, 0) == 0;
    LineReader reader(doc_.text, bom ? 3 : 0);
    reader_ = &reader;
    if (!ParseHeader()) return {std::nullopt, 1};
    Line line;
    while (reader.Next(&line)) {
      if (!ParseLine(line)) return {std::nullopt, reader.number()};
    }
    return {std::move(doc_), 0};
  }

 private:
  enum class Section { kNone, kDeleted, kOpen };

  bool ParseHeader() {
    Line line;
    if (!reader_->Next(&line)) return false;
    std::string header = doc_.text.substr(line.begin, line.end - line.begin);
    while (!header.empty() && (header.back() == ' ' || header.back() == '\t')) header.pop_back();
    if (header != kHeaderAnsi && header != kHeaderUnicode) return false;
    doc_.unicode = header == kHeaderUnicode;
    const bool lf_only = line.end < doc_.text.size() && doc_.text[line.end] == '\n';
    doc_.eol = lf_only ? "\n" : "\r\n";
    return true;
  }

  bool ParseLine(const Line& line) {
    const auto first = doc_.text.begin() + static_cast<std::ptrdiff_t>(line.begin);
    const auto last = doc_.text.begin() + static_cast<std::ptrdiff_t>(line.end);
    if (std::find(first, last, '\0') != last) return false;
    Cursor c(doc_.text, line);
    if (c.RestIsEmpty()) return true;
    if (c.Peek() == '[') return ParseSectionHeader(c);
    if (c.Peek() == '"' || c.Peek() == '@') return ParseValue(line, c);
    return false;
  }

  bool ParseSectionHeader(Cursor& c) {
    const std::string rest = c.Rest();
    const std::size_t close = rest.rfind(']');
    if (close == std::string::npos || close < 2) return false;
    const std::string tail = rest.substr(close + 1);
    const std::size_t junk = tail.find_first_not_of(" \t\r");
    if (junk != std::string::npos && tail[junk] != ';') return false;
    const std::string path = rest.substr(1, close - 1);
    if (path[0] == '-') {
      section_ = Section::kDeleted;
      return true;
    }
    const auto folded = FoldKeyPath(path);
    if (!folded) return false;
    section_ = Section::kOpen;
    doc_.sections.push_back({*folded, c.end(), {}});
    AddKeyWithParents(*folded);
    return true;
  }

  void AddKeyWithParents(const std::string& folded) {
    for (std::size_t slash = folded.find('\\'); slash != std::string::npos;
         slash = folded.find('\\', slash + 1)) {
      doc_.keys.insert(folded.substr(0, slash));
    }
    doc_.keys.insert(folded);
  }

  bool ParseValue(const Line& line, Cursor& c) {
    if (section_ == Section::kNone) return false;
    RegValueEntry entry;
    entry.begin = line.begin;
    if (c.Peek() == '@') {
      c.Take();
    } else if (!TakeQuoted(c, &entry.name)) {
      return false;
    }
    c.SkipSpace();
    if (c.AtEnd() || c.Take() != '=') return false;
    c.SkipSpace();
    if (!c.AtEnd() && c.Peek() == '-') {  // "name"=- deletes; nothing to store
      c.Take();
      return c.RestIsEmpty();
    }
    if (!ParseData(c, &entry.data, &entry.end)) return false;
    if (section_ == Section::kOpen) {
      entry.folded_name = FoldCase(entry.name);
      doc_.sections.back().content_end = entry.end;
      doc_.sections.back().values.push_back(std::move(entry));
    }
    return true;
  }

  bool ParseData(Cursor& c, RegValueData* data, std::size_t* end) {
    *end = c.end();
    if (!c.AtEnd() && c.Peek() == '"') {
      data->type = 1;
      data->quoted = true;
      return TakeQuoted(c, &data->bytes) && c.RestIsEmpty();
    }
    if (c.TakePrefix("dword:")) return ParseDword(c, data);
    if (c.TakePrefix("hex:")) {
      data->type = 3;
      return ParseHexList(c, data, end);
    }
    if (c.TakePrefix("hex(")) {
      if (!TakeHexNumber(c, 8, &data->type) || !c.TakePrefix("):")) return false;
      return ParseHexList(c, data, end);
    }
    return false;
  }

  static bool ParseDword(Cursor& c, RegValueData* data) {
    c.SkipSpace();
    std::uint32_t value = 0;
    if (!TakeHexNumber(c, 8, &value) || !c.RestIsEmpty()) return false;
    data->type = 4;
    for (int i = 0; i < 4; ++i) data->bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return true;
  }

  // Comma-separated bytes; a trailing "\" continues on the next line, where
  // comment lines may sit between the pieces.
  bool ParseHexList(Cursor& c, RegValueData* data, std::size_t* end) {
    Line line;
    while (true) {
      c.SkipSpace();
      if (c.AtEnd() || c.Peek() == ';') break;
      if (c.Peek() == '\\') {
        c.Take();
        if (!c.RestIsEmpty() || !NextContinuation(&line)) return false;
        c = Cursor(doc_.text, line);
        continue;
      }
      std::uint32_t byte = 0;
      if (!TakeHexNumber(c, 2, &byte)) return false;
      data->bytes.push_back(static_cast<char>(byte));
      c.SkipSpace();
      if (!c.AtEnd() && c.Peek() == ',')
        c.Take();
      else if (!c.AtEnd() && c.Peek() != ';' && c.Peek() != '\\')
        return false;
    }
    *end = c.end();
    return true;
  }

  bool NextContinuation(Line* line) {
    while (reader_->Next(line)) {
      Cursor c(doc_.text, *line);
      c.SkipSpace();
      if (c.AtEnd()) return false;  // a blank line cannot carry on hex data
      if (c.Peek() != ';') return true;
    }
    return false;  // the file ends inside the value: truncated
  }

  RegDocument doc_;
  LineReader* reader_ = nullptr;
  Section section_ = Section::kNone;
};

}  // namespace

RegParseResult ParseRegistryText(std::string text) { return RegParser(std::move(text)).Run(); }

RegParseResult ParseRegistryFile(const std::string& bytes) {
  int bad_line = 0;
  std::optional<std::string> text = DecodeRegistryBytes(bytes, &bad_line);
  if (!text) return {std::nullopt, bad_line};
  return ParseRegistryText(std::move(*text));
}

}  // namespace mb::formats
