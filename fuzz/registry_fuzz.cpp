// libFuzzer target for the .reg store's parser and writer. Input: a byte
// choosing a value type, a byte giving a name length, the name, a byte
// giving a data length, the data, then the file. Checks:
// - decoding and parsing any bytes never crashes, and every value the
//   parser lists is found again by name;
// - writing a value into a key the file has, the way the store writes it,
//   gives a file that parses again, where that value reads back as stored
//   and every other value is unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "formats/registry_document.h"
#include "formats/registry_format.h"
#include "formats/registry_text.h"
#include "formats/registry_values.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// ISO 8859-1: every byte is one character, so every ANSI text converts.
class Latin1 : public mb::platform::CodePage {
 public:
  int Number() const override { return 28591; }
  std::string ToAnsi(const std::string& utf8) const override {
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
      const auto b = static_cast<unsigned char>(utf8[i]);
      if (b < 0x80) {
        out += static_cast<char>(b);
      } else if ((b == 0xC2 || b == 0xC3) && i + 1 < utf8.size()) {
        out +=
            static_cast<char>(((b & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
      } else {
        out += '?';
      }
    }
    return out;
  }
  std::string FromAnsi(const std::string& ansi) const override {
    std::string out;
    for (char c : ansi) {
      const auto b = static_cast<unsigned char>(c);
      if (b < 0x80) {
        out += c;
      } else {
        out += static_cast<char>(0xC0 | (b >> 6));
        out += static_cast<char>(0x80 | (b & 0x3F));
      }
    }
    return out;
  }
};

bool SameData(const mb::formats::RegValueData& a, const mb::formats::RegValueData& b) {
  return a.type == b.type && a.bytes == b.bytes;
}

struct Input {
  std::uint32_t type;
  std::string name, data, file;
};

bool Split(const std::uint8_t* data, std::size_t size, Input* in) {
  static constexpr std::uint32_t kTypes[] = {1, 2, 3, 4, 7, 0, 11};
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  if (rest.size() < 3) return false;
  in->type = kTypes[static_cast<unsigned char>(rest[0]) % 7];
  const std::size_t name_len =
      std::min<std::size_t>(static_cast<unsigned char>(rest[1]) % 24, rest.size() - 2);
  in->name = std::string(rest.substr(2, name_len));
  rest.remove_prefix(2 + name_len);
  if (rest.empty()) return false;
  const std::size_t data_len =
      std::min<std::size_t>(static_cast<unsigned char>(rest[0]) % 48, rest.size() - 1);
  in->data = std::string(rest.substr(1, data_len));
  in->file = std::string(rest.substr(1 + data_len));
  return true;
}

void WriteAndReread(const mb::formats::RegDocument& doc, const Input& in) {
  static const Latin1 cp;
  if (doc.sections.empty()) return;
  const std::string name = cp.FromAnsi(in.name.substr(0, in.name.find('\0')));
  // The store refuses a value name with a line break (a .reg line cannot
  // hold one; FaultyRegistryWrite.LineBreakInAValueNameIsRefused).
  if (name.find_first_of("\r\n") != std::string::npos) return;
  const auto& section = doc.sections[in.data.size() % doc.sections.size()];
  const mb::formats::RegKeyPath key{section.folded_path, section.folded_path};
  const std::string folded_name = mb::formats::FoldCase(name);
  const auto* old = doc.FindValue(key.folded, folded_name);
  const auto stored = mb::formats::StoredValueData(in.type, in.data, doc.unicode, cp);
  const std::string line = mb::formats::FormatValueLine(old ? old->name : name, stored, doc.eol);
  const auto again =
      mb::formats::ParseRegistryText(mb::formats::SpliceValueLine(doc, key, folded_name, line));
  Check(again.document.has_value());
  const auto* got = again.document->FindValue(key.folded, folded_name);
  Check(got != nullptr && SameData(got->data, stored));
  for (const auto& s : doc.sections) {
    for (const auto& v : s.values) {
      if (s.folded_path == key.folded && v.folded_name == folded_name) continue;
      const auto* before = doc.FindValue(s.folded_path, v.folded_name);
      const auto* after = again.document->FindValue(s.folded_path, v.folded_name);
      Check(after != nullptr && SameData(after->data, before->data));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in;
  if (!Split(data, size, &in)) return 0;
  const auto parsed = mb::formats::ParseRegistryFile(in.file);
  if (!parsed.document) return 0;
  const auto& doc = *parsed.document;
  for (const auto& s : doc.sections) {
    for (const auto& v : s.values) Check(doc.FindValue(s.folded_path, v.folded_name) != nullptr);
  }
  WriteAndReread(doc, in);
  return 0;
}
