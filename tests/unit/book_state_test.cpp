#include "novel/book_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "page_fixtures.h"

namespace {

std::vector<ChapterState> three_chapters() {
  static const std::string text = gbk("第一段\r\n第二段"), half = gbk("半章");
  return {{"http://a/1.html", text, true, true},
          {"http://a/2.html", "", true, false},
          {"http://a/3.html", half, false, true}};
}

TEST(StateFile, RoundTrip) {
  const std::vector<ChapterState> chapters = three_chapters();
  BookState state;
  ASSERT_TRUE(decode_book_state(encode_book_state("http://a/", chapters), state));
  EXPECT_EQ(state.contents_address, "http://a/");
  ASSERT_EQ(state.chapters.size(), chapters.size());
  for (size_t i = 0; i < chapters.size(); ++i) {
    EXPECT_EQ(state.chapters[i].address, chapters[i].address) << i;
    EXPECT_EQ(state.chapters[i].text, chapters[i].text) << i;
    EXPECT_EQ(state.chapters[i].complete, chapters[i].complete) << i;
    EXPECT_EQ(state.chapters[i].had_text, chapters[i].had_text) << i;
  }
  ASSERT_TRUE(decode_book_state(encode_book_state("", {}), state));
  EXPECT_TRUE(state.chapters.empty());
}

TEST(StateFile, AFileCutShortDamagedOrOfAnotherVersionIsNotUsed) {
  const std::string whole = encode_book_state("http://a/", three_chapters());
  BookState state;
  // Every cut: at each record boundary and inside every record.
  for (size_t length = 0; length < whole.size(); ++length)
    EXPECT_FALSE(decode_book_state(whole.substr(0, length), state)) << "cut at " << length;
  EXPECT_FALSE(decode_book_state(whole + "x", state)) << "bytes after the end record";
  for (size_t at = 0; at < whole.size(); ++at) {
    std::string flipped = whole;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x10);
    EXPECT_FALSE(decode_book_state(flipped, state)) << "byte " << at << " flipped";
    EXPECT_TRUE(state.chapters.empty());
  }
}

// The state of a book of seven chapters a to g; e, f and g are its last three.
BookState seven_chapters() {
  std::vector<ChapterState> chapters;
  for (const char* name : {"a", "b", "c", "d", "e", "f", "g"}) chapters.push_back({name, "text", true, true});
  chapters[2].complete = false;  // c
  chapters[3].had_text = false;  // d: left empty by the site lines
  BookState state;
  decode_book_state(encode_book_state("toc", chapters), state);
  return state;
}

TEST(StateFile, ChaptersAreMatchedByAddressWhereverTheyStandNow) {
  const BookState state = seven_chapters();
  struct Case {
    const char* label;
    std::vector<std::string_view> addresses;
    std::string expected;  // per chapter: T taken, F fetched (previous known), N new
  };
  const Case cases[] = {
      {"the same table of contents", {"a", "b", "c", "d", "e", "f", "g"}, "TTFFFFF"},
      {"new chapters", {"a", "b", "c", "d", "e", "f", "g", "h", "i"}, "TTFFFFFNN"},
      {"b moved first, a renamed, d removed", {"b", "a2", "c", "e", "f", "g"}, "TNFFFF"},
      {"another table of contents", {"x", "y"}, "NN"},
  };
  for (const Case& c : cases) {
    std::string planned;
    for (const ChapterPlan& plan : plan_chapters(state, c.addresses))
      planned += plan.taken ? 'T' : plan.previous >= 0 ? 'F' : 'N';
    EXPECT_EQ(planned, c.expected) << c.label;
  }
  EXPECT_EQ(plan_chapters(BookState(), std::vector<std::string_view>{"a"})[0].previous, -1);
}

TEST(StateFile, AFetchedChapterNeverLosesTheTextItHad) {
  const ChapterState complete{"a", "old text", true, true};
  const ChapterState incomplete_long{"a", "old, longer text", false, true};
  const ChapterState without_text{"a", "", true, false};
  struct Case {
    const char* label;
    ChapterText fetched;
    const ChapterState* previous;
    std::string_view text;
    bool complete;
  };
  const Case cases[] = {
      {"new chapter", {"new", true}, nullptr, "new", true},
      {"fetched again with text", {"new", true}, &complete, "new", true},
      {"gives no text now: keeps its text", {"", true}, &complete, "old text", true},
      {"gives no text now, had an incomplete one", {"", true}, &incomplete_long, "old, longer text", false},
      {"incomplete now, the old text longer", {"short", false}, &incomplete_long, "old, longer text", false},
      {"incomplete now, the new text longer", {"new and much longer", false}, &complete, "new and much longer", false},
      {"no text then or now", {"", true}, &without_text, "", true},
  };
  for (const Case& c : cases) {
    const ChapterText kept = kept_chapter_text(c.fetched, c.previous);
    EXPECT_EQ(kept.text, c.text) << c.label;
    EXPECT_EQ(kept.complete, c.complete) << c.label;
  }
}

}  // namespace
