#include "novel/table_of_contents.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "novel/book.h"
#include "page_fixtures.h"
#include "runtime/text_commands.h"
#include "web/utf8_to_local.h"

namespace {

constexpr Location test_at = {0x0401ffff, 1};

struct Chapter {
  std::string address;
  std::string name;
  bool operator==(const Chapter&) const = default;
};
void PrintTo(const Chapter& chapter, std::ostream* out) {
  *out << shown(chapter.address) << " | " << shown(chapter.name);
}

// The chapter lists after a parse; every list must have the same length, and
// chapter_texts must repeat the names.
std::vector<Chapter> parsed_chapters() {
  const int32_t count = g_book.chapter_urls.count();
  EXPECT_EQ(g_book.chapter_names.count(), count);
  EXPECT_EQ(g_book.chapter_texts.count(), count);
  std::vector<Chapter> chapters;
  for (int32_t i = 1; i <= count; ++i) {
    const char* address = g_book.chapter_urls.at(i, test_at);
    const char* name = g_book.chapter_names.at(i, test_at);
    const char* text = g_book.chapter_texts.at(i, test_at);
    EXPECT_STREQ(text ? text : "", name ? name : "") << "chapter " << i;
    chapters.push_back({address ? address : "", name ? name : ""});
  }
  return chapters;
}

std::vector<Chapter> parse(const std::string& address, const std::string& page) {
  parse_table_of_contents(address.c_str(), page.c_str());
  return parsed_chapters();
}

std::string anchor(const std::string& href, const std::string& text) {
  return "<a href=\"" + href + "\">" + text + "</a>\r\n";
}

class TableOfContents : public ::testing::Test {
 protected:
  void SetUp() override { create_book(); }
  void TearDown() override { release_book(); }
};

// ---- Title -------------------------------------------------------------------------------

TEST_F(TableOfContents, TitleIsCutBeforeTheFirstMarker) {
  const struct {
    const char* page;
    const char* title;
  } cases[] = {
      {"<title>青石记最新章节列表_书海</title>", "青石记"},
      {"<title>夜航船_全文阅读</title>", "夜航船"},
      {"<title>山海 目录 章节</title>", "山海 "},
      {"<title>山海 章节 目录</title>", "山海 "},
      {"<title>最新章节</title>", ""},
      {"<title>  空白 保留  </title>", "  空白 保留  "},
      {"<title>书名：副题</title><title>第二个</title>", "书名：副题"},
      {"<head><title>没有结束", ""},
      {"</title><title>倒置</title>", ""},
      {"0123456789</title>", "56789"},
      {"", ""},
  };
  for (const auto& c : cases) {
    parse("http://host/b/", gbk(c.page));
    EXPECT_EQ(text_bytes(g_book.title), gbk(c.title)) << shown(gbk(c.page));
  }
}

// ---- Which links are chapters, and their addresses ----------------------------------------

TEST_F(TableOfContents, LinkAddressesAndPageNumbers) {
  const struct {
    const char* address;  // the table of contents
    const char* href;
    const char* stored;  // "" when the link is not a chapter
  } cases[] = {
      {"http://host/book/12/index.html", "/book/12/345.html", "http://host/book/12/345.html"},
      {"http://host/book/12/index.html", "http://other/9/77.htm", "http://other/9/77.htm"},
      {"http://host/book/12/index.html", "/book/12/index.html", ""},
      {"http://host/book/12/index.html", "/book/12/10.html", ""},
      {"http://host/book/12/index.html", "/book/12/11.html", "http://host/book/12/11.html"},
      {"http://host/book/12/index.html", "/book/12/0011.html", "http://host/book/12/0011.html"},
      {"http://host/book/12/index.html", "/b/1234htm", "http://host/b/1234htm"},
      {"http://host/book/12/index.html", "/b/101htm", ""},
      {"http://host/book/12/index.html", "/b/htm/12.html", ""},
      {"http://host/book/12/index.html", "/b/12.html/x", ""},
      // Relative links join the directory of the table of contents.
      {"http://host/book/12/index.html", "567.html", "http://host/book/12/567.html"},
      {"http://host/book/12/index.html", "5.html", ""},
      {"http://host/book/12/index.html", "./568.html", "http://host/book/12/568.html"},
      {"http://host/book/12/index.html", "12/569.html", "http://host/book/12/12/569.html"},
      {"http://host/book/12/index.html", "../13/570.html", "http://host/book/13/570.html"},
      {"http://host/book/12/index.html", "../../../../x/571.html", "http://host/x/571.html"},
      {"http://host/book/12/index.html", "a/./b/../572.html", "http://host/book/12/a/572.html"},
      {"http://host/book/12/index.html", "./573.html?from=list#top", "http://host/book/12/573.html?from=list#top"},
      {"http://host/book/12/index.html", "Http/574.html", "http://host/book/12/Http/574.html"},
      {"http://host/book/12/", "575.html", "http://host/book/12/575.html"},
      {"http://host/", "576.html", "http://host/576.html"},
      {"http://host", "577.html", "http://host/577.html"},
      {"http://host:8080", "/b/578.html", "http://host:8080/b/578.html"},
      {"https://host/a/b.html", "579.html", "https://host/a/579.html"},
      // The rest of the address ends at a second "://".
      {"http://host/go/list.php?to=http://x/y/z", "580.html", "http://host/go/580.html"},
      // A link starting with "h" but without any "/" has no file name to read.
      {"http://host/book/12/index.html", "h581.html", ""},
      // Without "://" the links cannot be placed.
      {"host/book/12/index.html", "/book/12/345.html", ""},
      {"", "http://other/9/77.htm", ""},
      {"http://", "/b/582.html", "http:///b/582.html"},
  };
  for (const auto& c : cases) {
    const auto chapters = parse(c.address, "<title>t</title>" + anchor(c.href, "name"));
    const std::string context = std::string(c.address) + " + " + c.href;
    if (*c.stored == 0) {
      EXPECT_TRUE(chapters.empty()) << context;
    } else {
      EXPECT_EQ(chapters, (std::vector<Chapter>{{c.stored, "name"}})) << context;
    }
  }
}

TEST_F(TableOfContents, AddressPartAndNamePart) {
  const struct {
    const char* anchors;
    const char* address;
    const char* name;
  } cases[] = {
      {"<a href=\"12.html\">第十二章</a>", "http://h/d/12.html", "第十二章"},
      // A further attribute after the address is not part of the address.
      {"<a href=\"12.html\" title=\"第十二章\">第十二章</a>", "http://h/d/12.html", "第十二章"},
      {"<a href=\"/d/12.html\" class=\"c\" target=\"_blank\">第十二章</a>", "http://h/d/12.html", "第十二章"},
      // A link text wrapped in an element with a quoted attribute gives that
      // element's opening tag; one without keeps its markup.
      {"<a href=\"12.html\"><span class=\"x\">第十二章</span></a>", "http://h/d/12.html", "<span class=\"x"},
      {"<a href=\"12.html\"><b>第十二章</b></a>", "http://h/d/12.html", "<b>第十二章</b>"},
      {"<a href=\"12.html\">\r\n  第十二章\r\n</a>", "http://h/d/12.html", "\r\n  第十二章\r\n"},
      // No name part: the empty name, and the lists still grow together.
      {"<a href=\"12.html\"></a>", "http://h/d/12.html", ""},
      {"<a href=\"12.html\" >第十二章</a>", "http://h/d/12.html", ""},
      {"<a href=\"12.html\">a\">b\">c</a>", "http://h/d/12.html", "a"},
  };
  for (const auto& c : cases) {
    const auto chapters = parse("http://h/d/", gbk(c.anchors));
    EXPECT_EQ(chapters, (std::vector<Chapter>{{c.address, gbk(c.name)}})) << shown(gbk(c.anchors));
  }
}

// ---- The scan ------------------------------------------------------------------------------

TEST_F(TableOfContents, NewestBlockAboveTheFullListGivesThoseChaptersTwice) {
  std::string page = "<title>书</title><dl><dt>最新章节</dt>";
  page += anchor("/b/13.html", "第十三章") + anchor("/b/12.html", "第十二章");
  page += "<dt>正文</dt>" + anchor("/b/11.html", "第十一章") + anchor("/b/12.html", "第十二章") +
          anchor("/b/13.html", "第十三章") + "</dl>";
  const auto chapters = parse("http://h/b/", gbk(page));
  const std::vector<Chapter> expected = {{"http://h/b/13.html", gbk("第十三章")},
                                         {"http://h/b/12.html", gbk("第十二章")},
                                         {"http://h/b/11.html", gbk("第十一章")},
                                         {"http://h/b/12.html", gbk("第十二章")},
                                         {"http://h/b/13.html", gbk("第十三章")}};
  EXPECT_EQ(chapters, expected);
}

TEST_F(TableOfContents, ScanEndsAndSkipsAsMarkupDirects) {
  const struct {
    const char* page;
    std::vector<const char*> addresses;
  } cases[] = {
      // Upper-case href is not seen.
      {"<A HREF=\"/b/12.html\">x</A>", {}},
      // An anchor closed in upper case ends the scan when no "</a>" follows.
      {"<a href=\"/b/12.html\">x</a><a href=\"/b/13.html\">y</A><a href=\"/b/14.html\">z</A>", {"http://h/b/12.html"}},
      // An unclosed anchor's segment runs to the next "</a>", swallowing the anchor in between.
      {"<a href=\"/b/12.html\">x<a href=\"/b/13.html\">y</a>", {"http://h/b/12.html"}},
      {"<link href=\"/css/a.css\" rel=\"stylesheet\"><a href=\"/b/12.html\">x</a><a href=\"/b/13.html\">y</a>",
       {"http://h/b/13.html"}},
      // Never closed at all.
      {"<a href=\"/b/12.html\">x<a href=\"/b/13.html\">y", {}},
      // "</a>" right after "href=": an empty segment, skipped.
      {"href=</a><a href=\"/b/12.html\">x</a>", {"http://h/b/12.html"}},
      // An "href=" whose "h" is the second byte of a two-byte character is not one.
      {"\x81href=\"/b/12.html\">x</a>", {}},
      {"\xd5\xc2\xd5href=\"/b/12.html\">x</a>href=\"/b/13.html\">y</a>", {"http://h/b/13.html"}},
      // A lead byte at the very end of the page.
      {"<a href=\"/b/12.html\">x</a>\xd5", {"http://h/b/12.html"}},
      {"<a href=\"/b/12.html\">x\xd5", {}},
  };
  for (const auto& c : cases) {
    const auto chapters = parse("http://h/b/", c.page);
    std::vector<std::string> addresses;
    for (const Chapter& chapter : chapters) addresses.push_back(chapter.address);
    EXPECT_EQ(addresses, std::vector<std::string>(c.addresses.begin(), c.addresses.end())) << shown(c.page);
  }
}

TEST_F(TableOfContents, AtMostTheFirstTenThousandHrefAreExamined) {
  std::string all_chapters, skipped_first;
  for (int i = 0; i < 10005; ++i) all_chapters += anchor("/b/" + std::to_string(11 + i) + ".html", "c");
  EXPECT_EQ(parse("http://h/", all_chapters).size(), 10000u);
  EXPECT_EQ(g_book.chapter_urls.at(10000, test_at), std::string("http://h/b/10010.html"));

  for (int i = 0; i < 10000; ++i) skipped_first += anchor("/b/index.html", "c");
  skipped_first += anchor("/b/12.html", "c");
  EXPECT_TRUE(parse("http://h/", skipped_first).empty());
}

TEST_F(TableOfContents, EachParseStartsFromEmptyListsAndANewTitle) {
  parse("http://h/", gbk("<title>甲</title>") + anchor("/b/12.html", "x") + anchor("/b/13.html", "y"));
  const auto chapters = parse("http://h/", gbk("<title>乙</title>") + anchor("/b/14.html", "z"));
  EXPECT_EQ(text_bytes(g_book.title), gbk("乙"));
  EXPECT_EQ(chapters, (std::vector<Chapter>{{"http://h/b/14.html", "z"}}));
  EXPECT_TRUE(parse("http://h/", "<p>no links</p>").empty());
  EXPECT_TRUE(g_book.title.empty());
}

// ---- Fixture pages -------------------------------------------------------------------------

TEST_F(TableOfContents, FixturePagesGiveTheirTitlesAndChaptersByteForByte) {
  const struct {
    const char* page;
    const char* address;
  } fixtures[] = {
      {"toc_directory", "http://www.shuhai.test/book/7/"},
      {"toc_absolute_utf8", "https://m.example.test/novel/20231/"},
      {"toc_top_of_site", "http://www.example.test"},
  };
  for (const auto& f : fixtures) {
    SCOPED_TRACE(f.page);
    Text page = Text::copy_of(page_fixture(std::string(f.page) + ".html").c_str());
    ASSERT_FALSE(page.empty());
    if (declares_utf8(page.get())) page = utf8_to_local(page.get());
    parse_table_of_contents(f.address, page.get());
    std::string listing = "title\t" + text_bytes(g_book.title) + "\n";
    for (const Chapter& chapter : parsed_chapters()) listing += chapter.address + "\t" + chapter.name + "\n";
    EXPECT_EQ(shown(listing), shown(page_fixture(std::string(f.page) + ".expected")));
  }
}

// ---- Arbitrary bytes ------------------------------------------------------------------------

// Pages stitched from the markers the parser looks for and random bytes; under
// the sanitizers any read outside the page fails the test.
TEST_F(TableOfContents, ArbitraryBytesNeverLeadOutOfThePage) {
  static const char* const pieces[] = {"href=", "\"",       "\">", "</a>", "<a ",     "/",        "htm",
                                       ".html", "12",       "345", "0",    "<title>", "</title>", "\xd7\xee\xd0\xc2",
                                       "_",     "\xd5\xc2", "../", "./",   "h",       "?",        "#",
                                       "://"};
  static const char* const addresses[] = {"http://h/a/b/", "http://h", "h", "", "://", "http://h/a?x=1", "http://"};
  std::mt19937 random(20240501);
  for (int round = 0; round < 3000; ++round) {
    std::string page;
    const int length = static_cast<int>(random() % 60);
    for (int i = 0; i < length; ++i) {
      if (random() % 3 == 0) {
        page += static_cast<char>(1 + random() % 255);
      } else {
        page += pieces[random() % std::size(pieces)];
      }
    }
    const char* address = addresses[random() % std::size(addresses)];
    parse_table_of_contents(address, page.c_str());
    parsed_chapters();
    if (HasFailure()) {
      ADD_FAILURE() << "address " << address << " page " << shown(page);
      return;
    }
  }
}

TEST_F(TableOfContents, FiftyMegabytesOfMarkup) {
  // Links that are no chapters every 4 KB, then a chapter link past the first
  // 10000 of them, then an anchor that is never closed.
  std::string page(50 << 20, 'x');
  const std::string index_link = "<a href=\"/b/index.html\">\xc4\xbf</a>";
  for (size_t i = 0; i + 4096 < page.size(); i += 4096) page.replace(i, index_link.size(), index_link);
  page.replace(page.size() - 100, 60, "<a href=\"/b/12.html\">x</a><a href=\"/b/13.html\">\xd5");
  parse_table_of_contents("http://h/", page.c_str());
  EXPECT_TRUE(parsed_chapters().empty());
}

}  // namespace
