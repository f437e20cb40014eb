// The .reg format on its own, as both builds compile it: where a malformed
// text goes wrong, and a value written into a file as regedit exports it
// (UTF-16, CRLF, comments) changes only its own line.
#include "formats/registry_document.h"

#include <gtest/gtest.h>

#include <string>

#include "formats/registry_format.h"
#include "formats/registry_text.h"
#include "tests/formats/malformed_registry.h"

namespace mb::formats {
namespace {

TEST(RegistryDocument, MalformedTextNamesItsFirstBadLine) {
  for (const test::MalformedRegistry& c : test::MalformedRegistryTexts()) {
    const RegParseResult parsed = ParseRegistryFile(c.bytes);
    EXPECT_FALSE(parsed.document.has_value()) << c.what;
    EXPECT_EQ(parsed.bad_line, c.bad_line) << c.what;
  }
}

TEST(RegistryDocument, AWrittenValueChangesOnlyItsLine) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\X]\r\n\"URL\"=\"old\"\r\n; note\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Y]\r\n@=dword:00000001";
  const RegParseResult parsed = ParseRegistryFile("\xFF\xFE" + Utf8ToUtf16le(text));
  ASSERT_TRUE(parsed.document.has_value());
  const RegDocument& doc = *parsed.document;
  EXPECT_EQ(doc.text, text);
  EXPECT_TRUE(doc.unicode);
  EXPECT_EQ(doc.eol, "\r\n");
  EXPECT_TRUE(doc.HasKey(FoldKeyPath("HKCU\\software").value_or("")));  // a parent of X

  const RegKeyPath x{FoldKeyPath("HKCU\\Software\\X").value_or(""),
                     "HKEY_CURRENT_USER\\Software\\X"};
  const RegKeyPath z{FoldKeyPath("HKCU\\Software\\Z").value_or(""),
                     "HKEY_CURRENT_USER\\Software\\Z"};
  const RegValueEntry* url = doc.FindValue(x.folded, FoldCase("url"));
  ASSERT_NE(url, nullptr);
  EXPECT_EQ(url->data.bytes, "old");
  const auto write = [&](const RegKeyPath& key, const std::string& name) {
    const std::string line = FormatValueLine(name, RegValueData{1, "new", true}, doc.eol);
    return SpliceValueLine(doc, key, FoldCase(name), line);
  };
  std::string replaced = text;
  replaced.replace(replaced.find("\"old\""), 5, "\"new\"");
  EXPECT_EQ(write(x, "URL"), replaced);
  std::string added = text;
  added.insert(added.find("; note"), "\"V_DIR\"=\"new\"\r\n");
  EXPECT_EQ(write(x, "V_DIR"), added);

  const std::string with_key = write(z, "a");
  EXPECT_EQ(with_key.rfind(text, 0), 0u);
  const RegParseResult again = ParseRegistryText(with_key);
  ASSERT_TRUE(again.document.has_value());
  const RegValueEntry* a = again.document->FindValue(z.folded, "a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->data.bytes, "new");
  EXPECT_NE(again.document->FindValue(x.folded, "url"), nullptr);
}

}  // namespace
}  // namespace mb::formats
