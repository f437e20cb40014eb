#include "formats/registry_format.h"

#include <cstdio>

namespace mb::formats {
namespace {

constexpr std::size_t kWrapColumn = 76;  // where regedit breaks hex lines

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out + '"';
}

std::string HexByte(char byte) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const auto b = static_cast<unsigned char>(byte);
  return {kDigits[b >> 4], kDigits[b & 0xF]};
}

std::string HexPrefix(std::uint32_t type) {
  if (type == 3) return "hex:";
  char buf[24];
  std::snprintf(buf, sizeof buf, "hex(%x):", type);
  return buf;
}

std::string DwordText(const std::string& bytes) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "dword:%08x", value);
  return buf;
}

std::string HexList(std::string line, const std::string& bytes, const std::string& eol) {
  std::size_t column = line.size();
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const bool last = i + 1 == bytes.size();
    line += HexByte(bytes[i]);
    if (!last) line += ',';
    column += last ? 2 : 3;
    if (!last && column >= kWrapColumn) {
      out += line;
      out += "\\";
      out += eol;
      line = "  ";
      column = 2;
    }
  }
  return out + line;
}

}  // namespace

std::string FormatValueLine(const std::string& name, const RegValueData& data,
                            const std::string& eol) {
  const std::string head = (name.empty() ? std::string("@") : Quote(name)) + "=";
  if (data.quoted) return head + Quote(data.bytes);
  if (data.type == 4 && data.bytes.size() == 4) return head + DwordText(data.bytes);
  return HexList(head + HexPrefix(data.type), data.bytes, eol);
}

std::string SpliceValueLine(const RegDocument& doc, const RegKeyPath& key,
                            const std::string& folded_name, const std::string& line) {
  const std::string& text = doc.text;
  if (const RegValueEntry* old = doc.FindValue(key.folded, folded_name)) {
    return text.substr(0, old->begin) + line + text.substr(old->end);
  }
  if (const RegSection* section = doc.LastSection(key.folded)) {
    const std::size_t at = section->content_end;
    return text.substr(0, at) + doc.eol + line + text.substr(at);
  }
  const bool ends_with_line_end = text.empty() || text.back() == '\n';
  return text + (ends_with_line_end ? "" : doc.eol) + doc.eol + "[" + key.display + "]" + doc.eol +
         line + doc.eol;
}

}  // namespace mb::formats
