#include "novel/extract_chapter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "fixture_server.h"
#include "novel/book.h"
#include "page_fixtures.h"

namespace {

constexpr Location test_at = {0x0401ffff, 2};

// n two-byte characters of prose (GBK, each byte 0x80 or above).
std::string prose(int characters) {
  static const std::string cycle = gbk("天地玄黄宇宙洪荒日月盈昃辰宿列张");
  std::string text;
  for (int i = 0; i < characters; ++i) text += cycle.substr((i % 16) * 2, 2);
  return text;
}

std::string chapter_of(const std::string& page) {
  return text_bytes(chapter_text_of_page(Text::copy_of(page.c_str())));
}

// ---- The block ---------------------------------------------------------------------------

TEST(ChapterText, FirstBlockThatPassesBothThresholdsIsTheChapter) {
  const std::string navigation = "<div class=\"nav\">" + std::string(300, 'a') + prose(20) + "</div>";
  const std::string short_prose = "<div>" + prose(100) + "</div>";
  const struct {
    std::string page;
    std::string text;
  } cases[] = {
      // A long first div without enough two-byte characters is passed over.
      {navigation + "<div id=\"content\">" + prose(301) + "</div>", prose(301)},
      {short_prose + navigation + "<div>" + prose(400) + "</div><div>" + prose(500) + "</div>", prose(400)},
      // Exactly 600 bytes of 0x80 and above are too few, 601 enough.
      {"<div>" + prose(300) + "</div>", ""},
      {"<div>" + prose(300) + "\x81@</div>", prose(300) + "\x81"},
      {"<div>" + prose(301) + "</div>", prose(301)},
      // Searches for the markers ignore case.
      {"<DIV ID=\"x\">" + prose(301) + "</Div>", prose(301)},
      // A nested div ends the block at its own "</div>".
      {"<div id=\"content\">" + prose(301) + "<div class=\"ad\">" + gbk("广告") + "</div>" + prose(5) + "</div>",
       prose(301) + gbk("广告")},
      // The thresholds count the raw block: a script full of two-byte
      // characters passes them and leaves no text.
      {"<div><script>var s='" + prose(301) + "';</script></div><div>" + prose(301) + "</div>", ""},
      {"", ""},
      {"<div>" + prose(400), ""},
      {"</div>" + prose(400) + "<div>", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(chapter_of(c.page), c.text) << shown(c.page.substr(0, 200));
}

TEST(ChapterText, AtMostFiveHundredBlocksAreExamined) {
  std::string small_blocks;
  for (int i = 0; i < 499; ++i) small_blocks += "<div>x</div>";
  const std::string chapter = "<div>" + prose(301) + "</div>";
  EXPECT_EQ(chapter_of(small_blocks + chapter), prose(301));
  EXPECT_EQ(chapter_of(small_blocks + "<div>x</div>" + chapter), "");
}

// ---- Cleaning and trimming -----------------------------------------------------------------

TEST(ChapterText, MarkupBecomesLineBreaksOrNothing) {
  const std::string a = prose(160), b = prose(160), c = prose(10);
  const std::string full_width_blank = gbk("　");
  const struct {
    std::string inner;
    std::string text;
  } cases[] = {
      {a + "<br />" + b, a + "\r\n" + b},
      {a + "<br /><br />" + b, a + "\r\n" + b},
      {a + "<br/><br/><br/>" + b, a + "\r\n\r\n" + b},
      // Line-break tags in every spelling, paragraph ends.
      {a + "<br>" + b, a + "\r\n" + b},
      {a + "<BR >" + b, a + "\r\n" + b},
      {a + "<Br/><br>" + b, a + "\r\n" + b},
      {a + "<br\r\n/>" + b, a + "\r\n" + b},
      {a + "</P >" + b, a + "\r\n" + b},
      {"<p>" + a + "</p><p>" + b + "</p>" + c, a + "\r\n" + b + "\r\n" + c},
      {a + "<br class=\"x\">" + b + "</pre>" + c, a + b + c},
      // Other tags, comments, script and style elements go.
      {a + "<b>" + c + "</b><span class=\"x\">" + c + "</span>" + b, a + c + c + b},
      {a + "<!-- note -->" + b, a + b},
      {a + "<script type=\"text/javascript\">if (x < 1 && y > 2) w('<p>" + c + "</p>');</SCRIPT >" + b, a + b},
      {a + "<Style>p > b { color: red }</style>" + b, a + b},
      // A tag ends at the first ">", a comment too.
      {a + "<!-- 1 > 2 -->" + b, a + "2--" + b},
      {a + "<a title=\"1>2\">" + b, a + "2\"" + b},
      // "<scripts>" is no script element; an unclosed script runs to the end of the block.
      {a + "<scripts>" + c + "</scripts>" + b, a + c + b},
      {a + "<script>var s = '" + c + "';" + b, a},
      // A "<" that starts no tag, or has no ">" after it, is left to the cleaning rows.
      {a + "1 < 2 > 0 <3" + b, a + "120" + "3" + b},
      {a + "<b " + c + "x" + b, a + "b" + c + "x" + b},
      // A "<" that is the second byte of a two-byte character starts no tag.
      {a + "\x81</p>" + b, a + "\x81<p" + b},
      {a + "\x81<script>" + c + "</script>" + b, a + "\x81<script" + c + b},
      {"&nbsp;&nbsp;&nbsp;&nbsp;" + a + "<br/>&nbsp;&nbsp;" + b, a + "\r\n" + b},
      {full_width_blank + full_width_blank + a + "<br/>" + full_width_blank + b,
       full_width_blank + full_width_blank + a + "\r\n" + full_width_blank + b},
      {a + "\r\n" + b, a + b},
      {a + "\n" + b + "\n", a + "\n" + b},
      {a + " library a/b <p>x</p> &amp; " + b, a + "liaryabx\r\n&amp;" + b},
      {"12. " + a + b + " (to be continued)", a + b},
      // A last character whose second byte is below 0x80 loses that byte.
      {a + b + "\x81@", a + b + "\x81"},
  };
  for (const auto& k : cases) {
    const std::string page = "<html><div id=\"content\">" + k.inner + "</div></html>";
    EXPECT_EQ(shown(chapter_of(page)), shown(k.text)) << shown(k.inner);
  }
}

// ---- Pages of one chapter -------------------------------------------------------------------

TEST(ChapterText, TheFirstPageNamesTheStartTagOfItsBlock) {
  const struct {
    std::string page;
    std::string text;
    std::string start_tag;
  } cases[] = {
      {"<div class=\"nav\">x</div><div id=\"content\">" + prose(301) + "</div>", prose(301), "<div id=\"content\">"},
      {"<DIV id=\"content\" data-x=\"1>2\">" + prose(301) + "</div>", prose(301), "<DIV id=\"content\" data-x=\"1>"},
      {"<div>" + prose(300) + "</div>", "", ""},
  };
  for (const auto& c : cases) {
    const ChapterPageText page = chapter_text_of(c.page.c_str());
    EXPECT_EQ(text_bytes(page.text), c.text) << shown(c.page.substr(0, 200));
    EXPECT_EQ(text_bytes(page.block_start_tag), c.start_tag) << shown(c.page.substr(0, 200));
  }
}

TEST(ChapterText, AFollowPagePrefersTheBlockWithTheFirstPagesStartTag) {
  const std::string start_tag = "<div id=\"content\">";
  std::string small_blocks;
  for (int i = 0; i < 500; ++i) small_blocks += "<div>x</div>";
  const struct {
    std::string page;
    std::string text;
  } cases[] = {
      // The same start tag wins over an earlier block that passes the thresholds,
      // however short its own text.
      {"<div class=\"nav\">" + prose(400) + "</div>" + start_tag + prose(5) + "</div>", prose(5)},
      {start_tag + "<script>x</script></div>" + start_tag + "12" + prose(3) + "</div>", prose(3)},
      // Otherwise the page's own rule decides.
      {"<div id=\"Content\">" + prose(5) + "</div><div class=\"text\">" + prose(301) + "</div>", prose(301)},
      {"<div id=\"content\" class=\"x\">" + prose(5) + "</div>", ""},
      {start_tag + "abc</div>", ""},
      // The scan stops after 500 blocks, as the page's own rule does.
      {small_blocks + start_tag + prose(5) + "</div>", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text_bytes(follow_page_text(c.page.c_str(), start_tag.c_str())), c.text) << shown(c.page.substr(0, 200));
  }
  // Without a start tag of the first page only the own rule is left.
  const std::string page = start_tag + prose(5) + "</div><div>" + prose(301) + "</div>";
  EXPECT_EQ(text_bytes(follow_page_text(page.c_str(), "")), prose(301));
}

// ---- Code pages ----------------------------------------------------------------------------

TEST(ChapterText, PagesThatDeclareUtf8AreConvertedFirst) {
  const std::string utf8_prose = platform::local_to_utf8(prose(301));
  for (const char* declaration : {"<meta charset=utf-8>", "<meta charset=UTF-8>", "<meta charset=\"utf-8\">",
                                  "<meta charset='Utf-8'>", "<meta content=\"text/html; charset=utf-8\">"}) {
    const std::string page = std::string(declaration) + "<div>" + utf8_prose + "</div>";
    EXPECT_EQ(chapter_of(page), prose(301)) << declaration;
  }
  // Without the declaration the UTF-8 bytes are taken as they are (an even
  // number of them, so that "</div>" begins a character).
  const std::string even_utf8_prose = platform::local_to_utf8(prose(302));
  EXPECT_EQ(chapter_of("<div>" + even_utf8_prose + "</div>"), even_utf8_prose);
  // A code-page-936 page that mentions the marker in its prose is converted all
  // the same; its bytes are no UTF-8, so no block keeps enough high bytes.
  EXPECT_EQ(chapter_of("<div>" + prose(301) + "charset=utf-8</div>"), "");
}

// ---- Fixture pages -------------------------------------------------------------------------

TEST(ChapterText, FixturePagesGiveTheirChaptersByteForByte) {
  for (const char* name : {"chapter_gbk", "chapter_utf8", "chapter_utf8_quoted", "chapter_single_quoted"}) {
    const std::string page = page_fixture(std::string(name) + ".html");
    ASSERT_FALSE(page.empty()) << name;
    EXPECT_EQ(shown(chapter_of(page)), shown(page_fixture(std::string(name) + ".expected"))) << name;
  }
}

// ---- Arbitrary bytes ------------------------------------------------------------------------

TEST(ChapterText, ArbitraryBytesNeverLeadOutOfThePage) {
  static const char* const pieces[] = {"<div",     "<DIV",          "</div>",     "</DiV>",   ">",    "<br/>",
                                       "<br />",   "&nbsp;",        " ",          "\r\n",     "br",   "/",
                                       "<",        "charset=utf-8", "charset=\"", "\xef\xbc", "\xe4", "<script",
                                       "</SCRIPT", "<style>",       "</p >",      "<Br",      "<!--", "<b>"};
  std::mt19937 random(20240502);
  for (int round = 0; round < 2000; ++round) {
    std::string page;
    const int length = static_cast<int>(random() % 400);
    for (int i = 0; i < length; ++i) {
      const unsigned choice = random() % 4;
      if (choice == 0)
        page += pieces[random() % std::size(pieces)];
      else
        page += static_cast<char>(1 + random() % 255);
    }
    const std::string text = chapter_of(page);
    // The text begins and ends with a byte of 0x80 or above, or is empty.
    if (!text.empty()) {
      ASSERT_GE(static_cast<unsigned char>(text.front()), 0x80) << shown(page);
      ASSERT_GE(static_cast<unsigned char>(text.back()), 0x80) << shown(page);
    }
  }
}

TEST(ChapterText, LargePages) {
  // 50 MB of markup with no block that passes, and a 1 MB chapter.
  std::string markup;
  while (markup.size() < (50u << 20)) markup += "<div class=\"row\"><a href=\"/x\">" + prose(4) + "</a></div>\n";
  EXPECT_EQ(chapter_of(markup), "");
  const std::string big = prose(500000);
  EXPECT_EQ(chapter_of("<div>" + big + "</div>"), big);
}

// ---- Storing -------------------------------------------------------------------------------

class StoredChapter : public ::testing::Test {
 protected:
  void SetUp() override {
    create_book();
    g_book.chapter_urls.set(1, Text::copy_of("http://127.0.0.1:1/12.html"), test_at);
    g_book.chapter_names.set(1, Text::copy_of("name"), test_at);
    g_book.chapter_texts.set(1, Text::copy_of("name"), test_at);
  }
  void TearDown() override { release_book(); }
};

TEST_F(StoredChapter, APageThatCannotBeHadLeavesTheNameAndTwoLineBreaks) {
  extract_chapter(g_book.chapter_urls.at(1, test_at), 1);
  EXPECT_STREQ(g_book.chapter_texts.at(1, test_at), "name\r\n\r\n");
  EXPECT_STREQ(g_book.chapter_names.at(1, test_at), "name");
}

TEST_F(StoredChapter, AServedPageBecomesTheNameItsTextAndLineBreaks) {
  REQUIRE_FIXTURE_SERVER();
  for (const char* page : {"chapter_gbk", "chapter_utf8_quoted"}) {
    const std::string address = fixture_address("/fixtures/pages/" + std::string(page) + ".html");
    extract_chapter(address.c_str(), 1);
    const std::string expected = "name\r\n" + page_fixture(std::string(page) + ".expected") + "\r\n";
    EXPECT_EQ(shown(g_book.chapter_texts.at(1, test_at)), shown(expected)) << page;
  }
}

}  // namespace
