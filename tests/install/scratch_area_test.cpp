// Which partial downloads and kept copies the scratch area holds on to:
// the rules alone, over listings a crash, a hostile server or time made.
#include "install/scratch_area.h"

#include <gtest/gtest.h>

#include <map>

namespace mb {
namespace {

constexpr std::int64_t kCap = 1000;

ScratchRecord Partial(int kind, std::string url, std::string digest, std::int64_t total = 100) {
  return {kind, std::move(url), std::move(digest), "\"etag\"", total};
}

ScratchRecord Kept(int kind, std::string digest, std::int64_t size) {
  return {kind, "", std::move(digest), "", size};
}

class ScratchAreaTest : public ::testing::Test {
 protected:
  void Add(const std::string& name, std::int64_t size, std::int64_t age = 0) {
    files_.push_back({name, size, age});
  }
  void AddPair(const std::string& data, std::int64_t size, const ScratchRecord& r,
               std::int64_t age = 0) {
    Add(data, size, age);
    Add(data + ".rec", 60, 0);
    records_[data] = r;
  }
  RecordReader Reader() {
    return [this](const std::string& data) -> std::optional<ScratchRecord> {
      auto it = records_.find(data);
      if (it == records_.end()) return std::nullopt;
      return it->second;
    };
  }
  std::vector<std::string> Leftovers(std::int64_t cap = kCap) {
    return ScratchLeftovers(files_, Reader(), cap);
  }

  std::vector<ScratchFile> files_;
  std::map<std::string, ScratchRecord> records_;
};

using Names = std::vector<std::string>;

TEST_F(ScratchAreaTest, SoundPairsStayAndWhatACrashLeftGoes) {
  AddPair("a.dll.part", 40, Partial(1, "http://h/a", "d1"));
  AddPair("b.dll.kept", 70, Kept(1, "d2", 70));
  Add("c.dll.part", 10);          // its record never written
  Add("d.dll.kept.rec", 60);      // its copy gone
  Add("e.dll.part.rec.tmp", 30);  // a record being written
  Add("f.dll", 5);                // nothing the area makes
  Add("g.dll.part", 10);          // a record cut short: unreadable
  Add("g.dll.part.rec", 12);
  EXPECT_EQ(Leftovers(), (Names{"c.dll.part", "d.dll.kept.rec", "e.dll.part.rec.tmp", "f.dll",
                                "g.dll.part", "g.dll.part.rec"}));
}

TEST_F(ScratchAreaTest, PairsThatCannotBeTrustedOrAreOldGo) {
  AddPair("young.part", 40, Partial(1, "http://h/y", "d"), kScratchMaxAgeSeconds);
  AddPair("old.part", 40, Partial(1, "http://h/o", "d"), kScratchMaxAgeSeconds + 1);
  AddPair("long.part", 101, Partial(1, "http://h/l", "d", 100));  // past its whole length
  AddPair("nototal.part", 400, Partial(1, "http://h/n", "d", -1));
  AddPair("grown.kept", 71, Kept(2, "d", 70));  // not the size that was verified
  AddPair("nodigest.kept", 70, Kept(2, "", 70));
  AddPair("nourl.part", 10, Partial(0, "", "d"));
  EXPECT_EQ(Leftovers(), (Names{"grown.kept", "grown.kept.rec", "long.part", "long.part.rec",
                                "nodigest.kept", "nodigest.kept.rec", "nourl.part",
                                "nourl.part.rec", "old.part", "old.part.rec"}));
}

TEST_F(ScratchAreaTest, OverTheCapTheOldestGoFirst) {
  AddPair("new.part", 400, Partial(1, "http://h/1", "d", 1000), 10);
  AddPair("older.kept", 400, Kept(1, "d", 400), 20);
  AddPair("oldest.kept", 400, Kept(1, "d", 400), 30);
  EXPECT_EQ(Leftovers(), (Names{"oldest.kept", "oldest.kept.rec"}));
  EXPECT_EQ(Leftovers(300), (Names{"new.part", "new.part.rec", "older.kept", "older.kept.rec",
                                   "oldest.kept", "oldest.kept.rec"}));
  EXPECT_EQ(Leftovers(1200), Names{});
}

TEST_F(ScratchAreaTest, APlanKeepsOnlyTheSameFileFromTheSamePlace) {
  AddPair("a.dll.part", 40, Partial(1, "http://h/a", "d1"));
  AddPair("b.dll.kept", 70, Kept(1, "d2", 70));
  AddPair("c.dll.part", 40, Partial(1, "http://h/c", "d3"));      // the digest changed
  AddPair("m.dll.part", 40, Partial(1, "http://h/old-m", "d4"));  // another URL
  AddPair("gone.kept", 70, Kept(1, "d5", 70));                    // no longer named
  AddPair("x.part.kept", 70, Kept(1, "d6", 70));                  // a NAME that ends in .part
  AddPair("other.kept", 70, Kept(2, "d7", 70));                   // another component's
  const std::vector<PlannedFile> plan = {{"a.dll", "http://h/a", "d1"},
                                         {"b.dll", "http://h/elsewhere", "d2"},
                                         {"c.dll", "http://h/c", "d3-new"},
                                         {"m.dll", "http://h/m", "d4"},
                                         {"x.part", "http://h/x", "d6"}};
  EXPECT_EQ(ForgottenByPlan(files_, Reader(), 1, plan),
            (Names{"c.dll.part", "c.dll.part.rec", "gone.kept", "gone.kept.rec", "m.dll.part",
                   "m.dll.part.rec"}));
  EXPECT_EQ(ForgottenByPlan(files_, Reader(), 2, {}), (Names{"other.kept", "other.kept.rec"}));
}

TEST(ScratchRecord, ReadsBackWhatItWroteAndNothingHalfWritten) {
  const ScratchRecord r{2, "http://h/a?program=1*", "0123abcd", "\"x=y\"", 5242880};
  const std::string text = FormatRecord(r);
  const std::optional<ScratchRecord> back = ParseRecord(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->kind, 2);
  EXPECT_EQ(back->url, r.url);
  EXPECT_EQ(back->digest, r.digest);
  EXPECT_EQ(back->validator, r.validator);
  EXPECT_EQ(back->total, r.total);
  for (std::size_t cut = 0; cut < text.size(); ++cut)
    EXPECT_FALSE(ParseRecord(text.substr(0, cut))) << cut;
  EXPECT_FALSE(ParseRecord(text + "url=again\n"));
  EXPECT_FALSE(ParseRecord(text + "more=1\n"));
  EXPECT_FALSE(ParseRecord("kind=7\nurl=\ndigest=d\nvalidator=\ntotal=1\n"));
  EXPECT_FALSE(ParseRecord("kind=1\nurl=\ndigest=d\nvalidator=\ntotal=1x\n"));
  EXPECT_EQ(PartialPath("C:\\m\\update", "a.dll"), "C:\\m\\update\\.scratch\\a.dll.part");
  EXPECT_EQ(RecordPath(KeptPath("C:\\m\\update", "a.dll")),
            "C:\\m\\update\\.scratch\\a.dll.kept.rec");
}

}  // namespace
}  // namespace mb
