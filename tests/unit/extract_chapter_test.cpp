#include "novel/extract_chapter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "fixture_server.h"
#include "novel/book.h"
#include "page_fixtures.h"
#include "platform/code_page_936.h"

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

// Page layouts of real sites, each with what a reader sees as its chapter.
TEST(ChapterText, TheBlockIsTheContainerWithTheMostOwnText) {
  const std::string p = prose(320), q = prose(400), notice = gbk("阅读提示：") + prose(350);
  std::string links;
  for (int i = 0; i < 40; ++i) links += "<a href=\"/book/" + std::to_string(i) + "/\">" + prose(12) + "</a> ";
  const struct {
    const char* layout;
    std::string page;
    std::string text;
  } cases[] = {
      {"nested ad div at the top",
       "<div id=\"content\"><div class=\"ad\"><script>ad()</script>" + gbk("广告") + "</div>" + p + "</div>", p},
      {"heading, date line, prose",
       "<div class=\"txtnav\"><h1>" + gbk("第一章 开端") + "</h1><div class=\"txtinfo\"><span>2024-05-01</span>" +
           gbk("作者") + "</div>" + p + "</div>",
       gbk("第一章开端") + "\r\n" + p},
      {"empty spacer", "<div id=\"nr1\"><div style=\"height:0px;\"></div>" + p + "<br/>" + q + "</div>",
       p + "\r\n" + q},
      {"notice before the content", "<div class=\"tip\">" + notice + "</div><div id=\"content\">" + q + "</div>", q},
      {"table cell", "<table><tr><td class=\"x\"><p>" + p + "</p><p>" + q + "</p></td></tr></table>", p + "\r\n" + q},
      {"links beside shorter prose",
       "<div class=\"tuijian\">" + gbk("相关推荐") + links + "</div><div id=\"content\">" + p + "</div>", p},
      {"no container: no text", p, ""},
      // More than 600 bytes of 0x80 and above in the own text, not 600.
      {"600 bytes", "<div>" + prose(300) + "</div>", ""},
      {"601 bytes", "<div>" + prose(300) + "\x81@</div>", prose(300) + "\x81@"},
      {"names in any case", "<SECTION ID=\"x\">" + p + "</Section>", p},
      {"equal scores: the first", "<article>" + p + "</article><main>" + prose(320) + "x</main>", p},
      {"unclosed containers end with the page", "<body><div>" + p, p},
      {"an end tag closes those inside it", "<div><td><main>" + p + "</div>" + q, p},
      {"an end tag of no open container is ignored", "<div>" + p + "</td></section>" + p + "</div>", p + p},
      {"script and style are no own text",
       "<div><script>var s='" + q + "';</script><style>" + q + "</style>" + p + "</div>", p},
      {"a link ends with its container", "<div><div><a href=\"x\">" + q + "</div>" + p + "</div>", p},
      {"a \"<\" without \">\" is text", "<div>" + p + "<" + q, p + "<" + q},
  };
  for (const auto& c : cases) EXPECT_EQ(shown(chapter_of(c.page)), shown(c.text)) << c.layout;
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
      // Line-break tags in every spelling, paragraph and heading ends.
      {a + "<br>" + b, a + "\r\n" + b},
      {a + "<BR >" + b, a + "\r\n" + b},
      {a + "<Br/><br>" + b, a + "\r\n" + b},
      {a + "<br\r\n/>" + b, a + "\r\n" + b},
      {a + "</P >" + b, a + "\r\n" + b},
      {a + "</h3\n>" + b + "</H1>" + c + "</h7>", a + "\r\n" + b + "\r\n" + c},
      {"<p>" + a + "</p><p>" + b + "</p>" + c, a + "\r\n" + b + "\r\n" + c},
      {a + "<br class=\"x\">" + b + "</pre>" + c, a + b + c},
      // Other tags, comments, script and style elements go.
      {a + "<b>" + c + "</b><span class=\"x\">" + c + "</span>" + b, a + c + c + b},
      {a + "<!-- note -->" + b, a + b},
      {a + "<script type=\"text/javascript\">if (x < 1 && y > 2) w('<p>" + c + "</p>');</SCRIPT >" + b, a + b},
      {a + "<Style>p > b { color: red }</style>" + b, a + b},
      // A tag ends at the first ">", a comment too.
      {a + "<!-- 1 > 2 -->" + b, a + "2-->" + b},
      {a + "<span title=\"1>2\">" + b, a + "2\">" + b},
      {a + "<scripts>" + c + "</scripts>" + b, a + c + b},
      // Prose keeps its "<", ">", "/" and letters; blanks go.
      {a + "1 < 2 > 0, 1/2 library" + b, a + "1<2>0,1/2library" + b},
      // A "<" that is the second byte of a two-byte character starts no tag.
      {a + "\x81</p>" + b, a + "\x81</p>" + b},
      // References, decoded once, left to right.
      {a + "&quot;&#39;&apos;&amp;lt;&lt;br/&gt;&#x4E2D;&#20013;&#X4e2d;&QUOT;" + b,
       a + "\"''&lt;\r\n" + gbk("中中中") + "&QUOT;" + b},
      {a + "&#0;&#55296;&#x1F600;&#1114112;&#12345678;&#x;&#xD6D0;&#3585;" + b, a + "????&#12345678;&#x;??" + b},
      {a + "&#8195;&emsp;&#x2003;&#160;&#8203;&#x200D;&#xFEFF;&#12539;" + b,
       a + full_width_blank + full_width_blank + full_width_blank + gbk("·") + b},
      {"&nbsp;&nbsp;&nbsp;&nbsp;" + a + "<br/>&nbsp;&nbsp;" + b, a + "\r\n" + b},
      {full_width_blank + full_width_blank + a + "<br/>" + full_width_blank + b,
       full_width_blank + full_width_blank + a + "\r\n" + full_width_blank + b},
      // The page's own line ends are never line ends of the text.
      {a + "\r\n" + b + "\r" + c, a + b + c},
      {"\n<p>" + a + "</p>\n<p>" + b + "</p>\n", a + "\r\n" + b},
      // ASCII at the ends stays; white space goes.
      {" \t12. " + a + b + " (to be continued!) \r\n", "12." + a + b + "(tobecontinued!)"},
      {a + b + "\x81@", a + b + "\x81@"},
      {a + b + "\x81 ", a + b + "\x81 "},
  };
  for (const auto& k : cases) {
    const std::string page = "<html><div id=\"content\">" + k.inner + "</div></html>";
    EXPECT_EQ(shown(chapter_of(page)), shown(k.text)) << shown(k.inner.substr(k.inner.size() > 400 ? 320 : 0));
  }
}

// ---- Title echoes -------------------------------------------------------------------------

TEST(ChapterText, AFirstLineThatRepeatsTheNameLeaves) {
  const std::string p = prose(20), name = gbk("第1章 开端");
  const struct {
    std::string name;
    std::string text;
    std::string result;
  } cases[] = {
      {name, name + "\r\n\r\n" + p, p},
      {name, gbk("第1章　开端\t") + "\r\n" + p + "\r\n" + p, p + "\r\n" + p},
      {gbk("第1章&nbsp;刀&amp;剑&#x3000;\r\n"), gbk("第1章 刀&剑") + "\r\n" + p, p},
      // A line that only resembles the name stays, as does a name without prose after it.
      {name, gbk("第1章 开端（上）") + "\r\n" + p, gbk("第1章 开端（上）") + "\r\n" + p},
      {name, name + "\r\nabc", name + "\r\nabc"},
      {name, name, name},
      {name, p + "\r\n" + name + "\r\n" + p, p + "\r\n" + name + "\r\n" + p},
      {"", gbk("　") + "\r\n" + p, gbk("　") + "\r\n" + p},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shown(text_bytes(without_title_echo(c.name.c_str(), c.text.c_str()))), shown(c.result)) << shown(c.text);
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
      {"<DIV id=\"content\" data-x=\"1>2\">" + prose(301) + "</div>", "2\">" + prose(301),
       "<DIV id=\"content\" data-x=\"1>"},
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
  const struct {
    std::string page;
    std::string text;
  } cases[] = {
      // The same start tag wins over an earlier block that passes the thresholds,
      // however short its own text.
      {"<div class=\"nav\">" + prose(400) + "</div>" + start_tag + prose(5) + "</div>", prose(5)},
      {start_tag + "<script>x</script></div>" + start_tag + "12" + prose(3) + "</div>", "12" + prose(3)},
      // A nested ad slot at the top of a follow page.
      {start_tag + "<div class=\"ad\">" + gbk("广告") + "</div>" + prose(5) + "</div>", prose(5)},
      {start_tag + start_tag + prose(3) + "</div>" + prose(4) + "</div>", prose(4)},
      // Otherwise the page's own rule decides.
      {"<div id=\"Content\">" + prose(5) + "</div><div class=\"text\">" + prose(301) + "</div>", prose(301)},
      {"<div id=\"content\" class=\"x\">" + prose(5) + "</div>", ""},
      {start_tag + "abc</div>", ""},
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
  // Em spaces indent, zero-width joiners and no-break spaces go, characters
  // that code page 936 lacks become "?".
  const std::string page = "<meta charset=utf-8><div>\u2003\u2003" + utf8_prose + "\u200d\u00a0\U0001F600" +
                           utf8_prose + "<br>\u2001\u2001\u30fb\u0e01" + utf8_prose + "</div>";
  EXPECT_EQ(shown(chapter_of(page)),
            shown(gbk("　　") + prose(301) + "?" + prose(301) + "\r\n" + gbk("　　·") + "?" + prose(301)));
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
    // Every CR and LF of the text is one of a CR LF pair, and no white space
    // stands at its ends.
    for (size_t at = 0; at < text.size(); at += character_width(text.data(), at, text.size())) {
      if (text[at] == '\r') {
        ASSERT_EQ(text.substr(at, 2), "\r\n") << shown(page);
      } else if (text[at] == '\n') {
        ASSERT_TRUE(at > 0 && text[at - 1] == '\r') << shown(page);
      }
    }
    if (!text.empty()) {
      ASSERT_NE(text.front(), ' ');
      ASSERT_NE(text.front(), '\r');
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
