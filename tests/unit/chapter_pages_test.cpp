#include "novel/chapter_pages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "page_fixtures.h"

namespace {

// A clock that stands still but for the fetches (10 ms each) and the waits.
class TestClock : public PaceClock {
 public:
  int64_t time = 0;
  int64_t now() override { return time; }
  void wait_until(int64_t until) override { time = std::max(time, until); }
};

const std::string book = "http://127.0.0.1:1/book/";

// A chapter page of 400 characters of prose, with a link after the prose.
std::string page(const std::string& link = "") {
  std::string prose;
  for (int i = 0; i < 400; ++i) prose += "\xd6\xd0";  // 中
  return "<html><body><div id=\"content\">" + prose + "</div>" + link + "</body></html>";
}

TEST(ChapterPages, PendingRetriesAreServedInDueOrderWhileNewChaptersGoOn) {
  TestClock clock;
  PaceGate gate;
  PagePace pace{gate, RetryDelays{{100, 300, 900}}, clock};
  pace.random01 = [] { return 0.5; };  // no spread: 100, 300 and 900 ms
  // The answers of each page in turn; every other page gives its prose at once.
  std::map<std::string, std::vector<int32_t>> failures = {{"1.html", {500, 500}}, {"2.html", {0}}, {"3_2.html", {502}}};
  std::vector<std::string> fetched;
  pace.fetch = [&](const char* address) {
    const std::string name = std::string(address).substr(book.size());
    fetched.push_back(name + "@" + std::to_string(clock.time));
    clock.time += 10;
    PageAnswer answer;
    std::vector<int32_t>& fails = failures[name];
    if (!fails.empty()) {
      answer.status = fails.front();
      fails.erase(fails.begin());
      return answer;
    }
    answer.status = 200;
    answer.body = Text::copy_of(page(name == "3.html" ? "<a href=\"3_2.html\">next</a>" : "").c_str());
    return answer;
  };
  int32_t next = 1;
  std::vector<std::string> stored;
  const bool ended = read_share(
      pace,
      [&](ChapterToRead& chapter) {
        if (next > 12) return false;
        chapter.index = next;
        chapter.address = Text::copy_of((book + std::to_string(next) + ".html").c_str());
        chapter.name = Text::copy_of(std::to_string(next++).c_str());
        return true;
      },
      [&](int32_t index, ChapterPages chapter) {
        stored.push_back(std::to_string(index) + "@" + std::to_string(clock.time));
        const std::string text = chapter.chapter.get();
        EXPECT_EQ(text.size(), index == 3 ? 1 + 2 + 800 + 2 + 800 + 2 : std::to_string(index).size() + 804) << index;
        EXPECT_FALSE(chapter.incomplete);
        return true;
      });
  EXPECT_TRUE(ended);
  const std::vector<std::string> expected_fetches = {
      "1.html@0",   "2.html@10",   "3.html@20",    "3_2.html@30",  // page 2 of chapter 3 as soon as page 1 is read
      "4.html@40",  "5.html@50",   "6.html@60",    "7.html@70",   "8.html@80", "9.html@90", "10.html@100",
      "1.html@110",  // due at 110: before the next new chapter
      "2.html@120", "11.html@130", "3_2.html@140", "12.html@150",
      "1.html@420",  // nothing new left: the wait for the last retry
  };
  EXPECT_EQ(fetched, expected_fetches);
  const std::vector<std::string> expected_stores = {"4@50",   "5@60",  "6@70",   "7@80",  "8@90",   "9@100",
                                                    "10@110", "2@130", "11@140", "3@150", "12@160", "1@430"};
  EXPECT_EQ(stored, expected_stores);
}

}  // namespace
