#include "novel/site_lines.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "page_fixtures.h"

namespace {

std::vector<std::string> without_site_lines(const std::vector<std::string>& texts) {
  std::vector<Text> handles;
  for (const std::string& text : texts) handles.push_back(Text::copy_of(text.c_str()));
  remove_site_lines(handles);
  std::vector<std::string> result;
  for (const Text& text : handles) result.push_back(text_bytes(text));
  return result;
}

std::string shown(const std::vector<std::string>& texts) {
  std::string out;
  for (const std::string& text : texts) out += "[" + ::shown(text) + "] ";
  return out;
}

TEST(SiteLines, LinesInHalfTheChaptersOrMoreLeaveEveryChapter) {
  const std::string site = gbk("本站网址：www.example.test");  // 22 characters
  const std::string a = gbk("第一段正文。"), b = gbk("第二段正文。"), c = gbk("第三段正文。"), d = gbk("第四段正文。");
  const std::string fw = gbk("　");
  const std::string hm = gbk("“嗯。”");  // 4 characters: too short to be a site line
  const struct {
    std::vector<std::string> texts;
    std::vector<std::string> expected;
  } cases[] = {
      {{a + "\r\n" + site, site + "\r\n" + b, c + "\r\n" + site + "\r\n" + c, d + "\r\n" + site},
       {a, b, c + "\r\n" + c, d}},
      {{a + "\r\n" + hm, b + "\r\n" + hm, c + "\r\n" + hm, d + "\r\n" + hm},
       {a + "\r\n" + hm, b + "\r\n" + hm, c + "\r\n" + hm, d + "\r\n" + hm}},
      // Blanks, tabs and full-width spaces around the line do not count; inside it they do.
      {{a + "\r\n" + fw + fw + site, b + "\r\n \t" + site + fw + " ", c + "\r\n" + site + "\r\n", d},
       {a, b, c + "\r\n", d}},
      {{a + "\r\n" + gbk("本站网址：") + fw + "www.example.test", b + "\r\n" + site, c + "\r\n" + site, d},
       {a + "\r\n" + gbk("本站网址：") + fw + "www.example.test", b + "\r\n" + site, c + "\r\n" + site, d}},
      // Seven chapters with text: a site line needs four of them; chapters without text do not count.
      {{a + "\r\n" + site, b + "\r\n" + site, c + "\r\n" + site, d, a, b, c, "", ""},
       {a + "\r\n" + site, b + "\r\n" + site, c + "\r\n" + site, d, a, b, c, "", ""}},
      {{a + "\r\n" + site, b + "\r\n" + site, c + "\r\n" + site, d + "\r\n" + site, a, b, c, "", ""},
       {a, b, c, d, a, b, c, "", ""}},
      // A line counts once per chapter.
      {{site + "\r\n" + site + "\r\n" + site, a + "\r\n" + site, b, c, d},
       {site + "\r\n" + site + "\r\n" + site, a + "\r\n" + site, b, c, d}},
      // Fewer than four chapters with text: nothing is a site line.
      {{a + "\r\n" + site, b + "\r\n" + site, c + "\r\n" + site, "", ""},
       {a + "\r\n" + site, b + "\r\n" + site, c + "\r\n" + site, "", ""}},
      // Empty lines around a site line stay; a chapter left with white space only has no text.
      {{a + "\r\n\r\n" + site + "\r\n\r\n" + b, site, fw + "\r\n" + site + "\r\n ", d + "\r\n" + site},
       {a + "\r\n\r\n\r\n" + b, "", "", d}},
  };
  for (const auto& k : cases) EXPECT_EQ(shown(without_site_lines(k.texts)), shown(k.expected)) << shown(k.texts);
}

// Random texts from a few lines, blanks and bytes that can join two characters:
// every text keeps its own lines in order, fewer or all of them, or becomes empty.
TEST(SiteLines, ATextKeepsOnlyItsOwnLinesInOrder) {
  static const char* const pieces[] = {"\r\n",
                                       "\r",
                                       "\n",
                                       " ",
                                       "\xa1\xa1",
                                       "\xa1",
                                       "\x81",
                                       "\xb0\xa1",
                                       "\r\nwww.example.test\r\n",
                                       "\r\n \xa1\xa1www.example.test\t\r\n",
                                       "\xb1\xbe\xd5\xbe\xcd\xf8\xd6\xb7\xb1\xbe\xd5\xbe\xcd\xf8\xd6\xb7"};
  auto lines_of = [](const std::string& text) {
    std::vector<std::string> lines;
    size_t begin = 0;
    for (size_t end; (end = text.find("\r\n", begin)) != std::string::npos; begin = end + 2)
      lines.push_back(text.substr(begin, end - begin));
    lines.push_back(text.substr(begin));
    return lines;
  };
  std::mt19937 random(20240611);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> texts(4 + random() % 6);
    for (std::string& text : texts) {
      for (int i = random() % 12; i > 0; --i) text += pieces[random() % std::size(pieces)];
    }
    const std::vector<std::string> result = without_site_lines(texts);
    for (size_t k = 0; k < texts.size(); ++k) {
      if (result[k].empty() || result[k] == texts[k]) continue;
      // Split here at every CR LF, a line that the program keeps whole (its CR
      // is the second byte of a character) is several lines, still in order.
      const std::vector<std::string> before = lines_of(texts[k]);
      size_t next = 0;
      for (const std::string& line : lines_of(result[k])) {
        while (next < before.size() && before[next] != line) ++next;
        ASSERT_LT(next, before.size()) << shown(texts);
        ++next;
      }
    }
  }
}

}  // namespace
