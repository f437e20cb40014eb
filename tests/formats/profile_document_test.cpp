// The in-memory INI document: key lookups on both sides of the point where a
// section gets a hash index, and a document rewritten many times over (its
// buffer is rebuilt from the live lines) still writing back exactly.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "formats/profile_document.h"

namespace mb::test {
namespace {

using formats::ProfileDocument;
using SetResult = ProfileDocument::SetResult;

std::string Value(const ProfileDocument& doc, std::string_view section, std::string_view key) {
  std::string_view v;
  return doc.Find(section, key, v) ? std::string(v) : std::string("<none>");
}

TEST(ProfileDocument, KeysOfSmallAndLargeSectionsFollowTheSameRules) {
  std::string file = "[Big]\r\n";
  for (int i = 0; i < 40; ++i) file += "Key" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
  file += "key7=second\r\nbare\r\n; note\r\n[Small]\r\nA=1\r\na=2\r\n[big]\r\nKey1=shadow\r\n";
  ProfileDocument doc{file};
  ASSERT_EQ(doc.Serialize(), file);
  EXPECT_EQ(doc.SectionNames(), (std::vector<std::string_view>{"Big", "Small"}));

  for (const std::string section : {"Big", "Small"}) {
    SCOPED_TRACE(section);
    EXPECT_EQ(Value(doc, section, "nothing"), "<none>");
    EXPECT_EQ(doc.Set(section, "added", "x"), SetResult::kChanged);
    EXPECT_EQ(Value(doc, section, "ADDED"), "x");
    EXPECT_EQ(doc.Set(section, "Added", "x"), SetResult::kUnchanged);
  }
  EXPECT_EQ(Value(doc, "BIG", "key7"), "7");  // first key and first section win
  EXPECT_EQ(Value(doc, "big", "key1"), "1");
  EXPECT_EQ(Value(doc, "Big", "bare"), "<none>");
  EXPECT_EQ(Value(doc, "small", "a"), "1");
  EXPECT_EQ(doc.Set("Big", "KEY39", "last"), SetResult::kChanged);
  EXPECT_EQ(doc.Set("Big", "bare", "now"), SetResult::kChanged);
  EXPECT_EQ(Value(doc, "Big", "bare"), "now");
  EXPECT_EQ(Value(doc, "Big", "key39"), "last");

  std::string expected = "[Big]\r\n";
  for (int i = 0; i < 39; ++i) {
    expected += "Key" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
  }
  expected +=
      "Key39=last\r\nkey7=second\r\nbare=now\r\nadded=x\r\n; note\r\n"
      "[Small]\r\nA=1\r\na=2\r\nadded=x\r\n[big]\r\nKey1=shadow\r\n";
  EXPECT_EQ(doc.Serialize(), expected);
}

TEST(ProfileDocument, SectionNamesAreTheSectionsAsRead) {
  const ProfileDocument doc{std::string("\n [ Two ] tail\r[]\r\n[One]\n[two]\nk=v\n[ \t]\n[Three")};
  EXPECT_EQ(doc.SectionNames(), (std::vector<std::string_view>{"Two", "One"}));
}

TEST(ProfileDocument, ManyRewritesStillWriteBackExactly) {
  ProfileDocument doc{std::string("[A]\r\nv=0\r\n; tail\r\n[B]\r\nx=1")};
  std::string last;
  // About 6 MB of rewritten values over a document of a few hundred bytes.
  for (int i = 0; i < 3000; ++i) {
    last = std::string(2000, static_cast<char>('a' + i % 26)) + std::to_string(i);
    ASSERT_EQ(doc.Set("A", "v", last), SetResult::kChanged);
    ASSERT_EQ(doc.Set("A", "w" + std::to_string(i % 3), std::to_string(i)), SetResult::kChanged);
  }
  EXPECT_EQ(doc.Set("b", "y", "2"), SetResult::kChanged);
  EXPECT_EQ(doc.Set("C", "z", "3"), SetResult::kChanged);
  EXPECT_EQ(Value(doc, "a", "V"), last);
  EXPECT_EQ(doc.SectionNames(), (std::vector<std::string_view>{"A", "B", "C"}));
  EXPECT_EQ(doc.Serialize(), "[A]\r\nv=" + last +
                                 "\r\nw0=2997\r\nw1=2998\r\nw2=2999\r\n; tail\r\n"
                                 "[B]\r\nx=1\r\ny=2\r\n[C]\r\nz=3\r\n");
}

}  // namespace
}  // namespace mb::test
