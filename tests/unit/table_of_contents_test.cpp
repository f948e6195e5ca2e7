#include "novel/table_of_contents.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
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
      // A host cut inside a two-byte character ends with its last byte.
      {"http://\xa9", "/b/585.html", "http://\xa9/b/585.html"},
      {"http://h\xa9", "586.html", "http://h\xa9/586.html"},
      // "//host/x" takes the scheme of the table of contents.
      {"http://host/book/12/", "//cdn.test/b/583.html", "http://cdn.test/b/583.html"},
      {"https://host:8443/book/12/", "//host/b/584.html", "https://host/b/584.html"},
      {"https://host/book/12/", "//host/b/index.html", ""},
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
      // Blanks around "=", and single quotes.
      {"<a href = \"12.html\">第十二章</a>", "http://h/d/12.html", "第十二章"},
      {"<a href\r\n=\n\t'12.html'>第十二章</a>", "http://h/d/12.html", "第十二章"},
      {"<a href='12.html' title='第十二章'>第十二章</a>", "http://h/d/12.html", "第十二章"},
      {"<a href='12.html' title=\"x\">第十二章</a>", "http://h/d/12.html", ""},
      // The name is all of the segment after the separator, without its tags.
      {"<a href=\"12.html\"><span class=\"t\">第十二章</span></a>", "http://h/d/12.html", "第十二章"},
      {"<a href=\"12.html\"><dd><b>第十二</b>章</dd></a>", "http://h/d/12.html", "第十二章"},
      {"<a href=\"12.html\">第<!-- x -->十二章<br/></a>", "http://h/d/12.html", "第十二章"},
      {"<a href=\"12.html\">a < b <3 <x</a>", "http://h/d/12.html", "a < b <3 <x"},
      {"<a href=\"12.html\">\r\n  第十二章\r\n</a>", "http://h/d/12.html", "\r\n  第十二章\r\n"},
      // No name part: the empty name, and the lists still grow together.
      {"<a href=\"12.html\"></a>", "http://h/d/12.html", ""},
      {"<a href=\"12.html\" >第十二章</a>", "http://h/d/12.html", ""},
      {"<a href=\"12.html\">a\">b\">c</a>", "http://h/d/12.html", "a\">b\">c"},
  };
  for (const auto& c : cases) {
    const auto chapters = parse("http://h/d/", gbk(c.anchors));
    EXPECT_EQ(chapters, (std::vector<Chapter>{{c.address, gbk(c.name)}})) << shown(gbk(c.anchors));
  }
}

// ---- The scan ------------------------------------------------------------------------------

TEST_F(TableOfContents, RepeatedAddressesKeepOnlyTheirLastPlace) {
  // The twelve newest chapters, newest first, above the full list of twenty.
  std::string newest_first = "<title>书</title><dl><dt>最新章节</dt>";
  for (int i = 30; i > 18; --i) newest_first += anchor("/b/" + std::to_string(i) + ".html", "new " + std::to_string(i));
  newest_first += "<dt>正文</dt>";
  std::vector<Chapter> full_list;
  for (int i = 11; i <= 30; ++i) {
    newest_first += anchor(std::to_string(i) + ".html", "chapter " + std::to_string(i));
    full_list.push_back({"http://h/b/" + std::to_string(i) + ".html", "chapter " + std::to_string(i)});
  }
  EXPECT_EQ(parse("http://h/b/", gbk(newest_first)), full_list);

  const struct {
    const char* anchors;
    std::vector<Chapter> chapters;
  } cases[] = {
      // Each repeat keeps its last place and that place's name; the same file
      // written differently is a different address.
      {"<a href=\"12.html\">a</a><a href=\"13.html\">b</a><a href=\"/b/12.html\">c</a>"
       "<a href=\"0013.html\">d</a><a href=\"12.html\">e</a>",
       {{"http://h/b/13.html", "b"}, {"http://h/b/0013.html", "d"}, {"http://h/b/12.html", "e"}}},
      {"<a href=\"12.html#x\">a</a><a href=\"12.html\">b</a><a href=\"12.html#x\">c</a>",
       {{"http://h/b/12.html", "b"}, {"http://h/b/12.html#x", "c"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(parse("http://h/b/", c.anchors), c.chapters) << c.anchors;
}

TEST_F(TableOfContents, LinksThatPageThroughTheListAreNeverChapters) {
  const struct {
    const char* name;
    bool chapter;
  } cases[] = {
      {"上一页", false},
      {"下一页", false},
      {" \r\n\t　下一页　\x0b\x0c", false},
      {"<span>上一页</span>", false},
      {"下一页>>", true},
      {"下 一页", true},
      {"上一页下一页", true},
  };
  for (const auto& c : cases) {
    const auto chapters = parse("http://h/b/", gbk(anchor("12_2.html", c.name)));
    EXPECT_EQ(chapters.size(), c.chapter ? 1u : 0u) << shown(gbk(c.name));
  }
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
      {"href \r\n= </a><a href\t=\r\n\"/b/12.html\">x</a>", {"http://h/b/12.html"}},
      // "href" without "=" after it is no link: the scan goes on right after it.
      {"<a hrefx=\"/b/12.html\">x</a>", {}},
      {"<a hrefhref=\"/b/12.html\">x</a>", {"http://h/b/12.html"}},
      {"<a href", {}},
      {"<a href = ", {}},
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

  // Links written with blanks around "=" count; an "href" without "=" does not.
  std::string spaced(skipped_first), unlinked;
  for (size_t at = 0; (at = spaced.find("href=", at)) != std::string::npos; at += 8) spaced.replace(at, 5, "href = ");
  EXPECT_TRUE(parse("http://h/", spaced).empty());
  for (int i = 0; i < 20000; ++i) unlinked += "<link href rel=\"x\"><a hrefs>c</a>";
  EXPECT_EQ(parse("http://h/", unlinked + all_chapters).size(), 10000u);
}

TEST_F(TableOfContents, EachParseStartsFromEmptyListsAndANewTitle) {
  parse("http://h/", gbk("<title>甲</title>") + anchor("/b/12.html", "x") + anchor("/b/13.html", "y"));
  const auto chapters = parse("http://h/", gbk("<title>乙</title>") + anchor("/b/14.html", "z"));
  EXPECT_EQ(text_bytes(g_book.title), gbk("乙"));
  EXPECT_EQ(chapters, (std::vector<Chapter>{{"http://h/b/14.html", "z"}}));
  EXPECT_TRUE(parse("http://h/", "<p>no links</p>").empty());
  EXPECT_TRUE(g_book.title.empty());
}

// ---- Tables of contents in pages -------------------------------------------------------

TEST_F(TableOfContents, NextPageIsTheFirstNewNextLinkInTheFirstPagesDirectory) {
  const struct {
    const char* first_address;
    const char* address;  // this page
    std::vector<const char*> read_before;
    const char* anchors;
    const char* next;
  } cases[] = {
      {"http://h/book/", "http://h/book/", {}, "<a href=\"/book/2/\">下一页</a>", "http://h/book/2/"},
      {"http://h/list/111883/",
       "http://h/list/111883/",
       {},
       "<a href=\"/list/111883/2/\">下一页</a>",
       "http://h/list/111883/2/"},
      {"http://h/book/566244.html",
       "http://h/book/566244.html",
       {},
       "<a href='566244_2.html'> 下一页 </a>",
       "http://h/book/566244_2.html"},
      // Later pages resolve against their own address, but stay in the first page's directory.
      {"http://h/list/111883/",
       "http://h/list/111883/2/",
       {},
       "<a href=\"../3/\"><b>下一页</b></a>",
       "http://h/list/111883/3/"},
      {"http://h/list/111883/", "http://h/list/111883/2/", {}, "<a href=\"../../111884/\">下一页</a>", ""},
      {"https://h/b/7/",
       "https://h/b/7/",
       {},
       "<a href=\"//h/b/7/index_2.html#list\">下一页</a>",
       "https://h/b/7/index_2.html"},
      // Outside the first page's directory, or already read: the next such link is taken.
      {"http://h/b/7/",
       "http://h/b/7/",
       {},
       "<a href=\"/b/8/\">下一页</a><a href=\"http://x/b/7/2.html\">下一页</a><a href=\"/b/7/\">下一页</a>"
       "<a href=\"index_2.html#top\">下一页</a>",
       "http://h/b/7/index_2.html"},
      {"http://h/b/7/",
       "http://h/b/7/index_3.html",
       {"http://h/b/7/index_2.html"},
       "<a href=\"index_2.html#x\">下一页</a><a href=\"index_3.html\">下一页</a>",
       ""},
      {"http://h/b/7/#top", "http://h/b/7/#top", {}, "<a href=\"./\">下一页</a>", ""},
      // Only the name "下一页" leads on; a link that is no chapter leads on too.
      {"http://h/b/7/", "http://h/b/7/", {}, "<a href=\"2.html\">下一页&gt;</a><a href=\"3.html\">上一页</a>", ""},
      {"http://h/b/7/",
       "http://h/b/7/",
       {},
       "<a href=\"2.html\">x</a><a href=\"3.html\">下一页</a>",
       "http://h/b/7/3.html"},
      {"host/b/7/", "host/b/7/", {}, "<a href=\"http://host/b/7/2.html\">下一页</a>", ""},
  };
  for (const auto& c : cases) {
    std::set<std::string> pages_read(c.read_before.begin(), c.read_before.end());
    const Text next = read_contents_page(c.first_address, c.address, gbk(c.anchors).c_str(), true, pages_read);
    EXPECT_EQ(text_bytes(next), c.next) << c.address << " " << c.anchors;
    EXPECT_TRUE(parsed_chapters().empty()) << c.anchors;
  }
}

TEST_F(TableOfContents, PagesAddTheirChaptersUpToTwoHundredPages) {
  const std::string next_link = gbk(anchor("index_2.html", "下一页"));
  std::set<std::string> pages_read;
  Text next = read_contents_page(
      "http://h/b/", "http://h/b/",
      (gbk("<title>书名_站</title>") + anchor("11.html", "a") + anchor("12.html", "b") + next_link).c_str(), true,
      pages_read);
  EXPECT_EQ(text_bytes(next), "http://h/b/index_2.html");
  next = read_contents_page("http://h/b/", next.get(),
                            ("<title>other</title>" + anchor("12.html", "c") + anchor("13.html", "d")).c_str(), false,
                            pages_read);
  EXPECT_TRUE(next.empty());
  EXPECT_EQ(pages_read, (std::set<std::string>{"http://h/b/", "http://h/b/index_2.html"}));
  keep_last_of_repeated_chapters();
  EXPECT_EQ(text_bytes(g_book.title), gbk("书名"));
  EXPECT_EQ(
      parsed_chapters(),
      (std::vector<Chapter>{{"http://h/b/11.html", "a"}, {"http://h/b/12.html", "c"}, {"http://h/b/13.html", "d"}}));

  // The page that makes 200 read gives no next page.
  const std::string last_link = gbk(anchor("index_9.html", "下一页"));
  for (int i = 0; i < most_contents_pages - 3; ++i) pages_read.insert("http://h/b/x" + std::to_string(i));
  EXPECT_EQ(text_bytes(read_contents_page("http://h/b/", "http://h/b/y", last_link.c_str(), false, pages_read)), "");
  pages_read.erase("http://h/b/y");
  pages_read.erase("http://h/b/x0");
  EXPECT_EQ(text_bytes(read_contents_page("http://h/b/", "http://h/b/y", last_link.c_str(), false, pages_read)),
            "http://h/b/index_9.html");
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
