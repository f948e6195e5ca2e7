#include "novel/links.h"

#include <gtest/gtest.h>

#include <string>

#include "page_fixtures.h"

namespace {

TEST(Links, FollowPageAddress) {
  const struct {
    const char* chapter;
    int32_t k;
    const char* follow_page;  // "" for none
  } cases[] = {
      {"http://h/b/12.html", 2, "http://h/b/12_2.html"},
      {"http://h/b/12.html", 50, "http://h/b/12_50.html"},
      {"http://h/b/12.html", 1, ""},
      {"http://h/b/12.html", 51, ""},
      {"http://h/b/12.htm?from=list#top", 3, "http://h/b/12_3.htm"},
      {"http://h/b/12.x.html#a.b/c", 2, "http://h/b/12.x_2.html"},
      {"http://h.test/b.d/12", 2, ""},
      {"http://h/b/.html", 2, ""},
      {"http://h/b/12.html/", 2, ""},
      {"http://h/b/read.php?id=12.html", 2, "http://h/b/read_2.php"},
      {"", 2, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text_bytes(follow_page_address(c.chapter, c.k)), c.follow_page) << c.chapter << " " << c.k;
  }
  EXPECT_TRUE(follow_page_address(nullptr, 2).empty());
}

TEST(Links, PageLinksToResolvesEachLinkAgainstTheChapter) {
  const struct {
    const char* page;
    const char* base;
    const char* target;
    bool links;
  } cases[] = {
      {"<a href=\"12_2.html\">下一页</a>", "http://h/b/12.html", "http://h/b/12_2.html", true},
      {"<a href\n= '/b/12_2.html'>next</a>", "http://h/b/12.html?x=1", "http://h/b/12_2.html", true},
      {"<a href=\"../b/./12_2.html\" class=\"n\">x</a>", "http://h/b/12.html", "http://h/b/12_2.html", true},
      {"<a href=\"//h/b/12_2.html\">x</a>", "https://h/b/12.html", "https://h/b/12_2.html", true},
      {"<a href=\"http://h/b/12_2.html\">x</a>", "http://h/b/12.html", "http://h/b/12_2.html", true},
      {"<a href=\"1.html\">1</a> <a href=\"12_3.html\">3</a> <a href=\"12_2.html\">2</a>", "http://h/b/12.html",
       "http://h/b/12_2.html", true},
      {"<a href=\"12_2.html#top\">x</a>", "http://h/b/12.html", "http://h/b/12_2.html", false},
      {"<a href=\"12_2.html\">x</A>", "http://h/b/12.html", "http://h/b/12_2.html", false},
      {"<a hrefs=\"12_2.html\">x</a>", "http://h/b/12.html", "http://h/b/12_2.html", false},
      {"<a href=\"12_2.html\">x</a>", "h/b/12.html", "h/b/12_2.html", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(page_links_to(gbk(c.page).c_str(), c.base, c.target), c.links) << c.page << " on " << c.base;
  }
}

}  // namespace
