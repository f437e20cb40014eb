// libFuzzer target for the INI engine. Input: three bytes giving the lengths
// of a section, a key and a value, those bytes, then the file. Checks that
// - parsing then writing back an untouched file gives its exact bytes;
// - a write the store accepts reads back (also after a reparse), and a new
//   section lands at the end without touching the bytes before it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "formats/profile_document.h"

namespace {

using mb::formats::IsIniSpace;

void Check(bool ok) {
  if (!ok) std::abort();
}

// What a read gives for a value written as `value`.
std::string_view ReadBack(std::string_view value) {
  while (!value.empty() && IsIniSpace(value.back())) value.remove_suffix(1);
  return value;
}

void RoundTrip(std::string_view file, std::string_view section, std::string_view key,
               std::string_view value) {
  mb::formats::ProfileDocument doc{std::string(file)};
  Check(doc.Serialize() == file);

  section = mb::formats::NormalizeIniName(section);
  key = mb::formats::NormalizeIniName(key);
  value = value.substr(0, value.find('\0'));
  while (!value.empty() && IsIniSpace(value.front())) value.remove_prefix(1);
  if (!mb::formats::CanWriteIniEntry(section, key, value)) return;

  const bool had_section = doc.HasSection(section);
  doc.Set(section, key, value);
  std::string_view got;
  Check(doc.Find(section, key, got) && got == ReadBack(value));

  const std::string written = doc.Serialize();
  if (!had_section) Check(written.compare(0, file.size(), file) == 0);
  mb::formats::ProfileDocument again{written};
  Check(again.Find(section, key, got) && got == ReadBack(value));
  Check(again.Serialize() == written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  std::size_t pos = 3;
  std::string_view parts[3];
  for (int i = 0; i < 3; ++i) {
    const std::size_t len = std::min<std::size_t>(data[i] % 32, size - pos);
    parts[i] = all.substr(pos, len);
    pos += len;
  }
  RoundTrip(all.substr(pos), parts[0], parts[1], parts[2]);
  return 0;
}
