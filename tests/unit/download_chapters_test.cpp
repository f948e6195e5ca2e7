#include "novel/download_chapters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fixture_server.h"
#include "novel/book.h"
#include "novel/book_state.h"
#include "page_fixtures.h"
#include "platform/files.h"
#include "runtime/memory.h"

namespace {

namespace fs = std::filesystem;

constexpr Location test_location{0x04019999, 1};

// Retries after milliseconds instead of seconds.
ChapterDownloadOptions quick(int32_t wait_seconds = most_wait_seconds) {
  ChapterDownloadOptions options;
  options.wait_seconds = wait_seconds;
  options.retry_delays = RetryDelays{{10, 20, 30}};
  return options;
}

struct TestChapter {
  std::string path;      // on the fixture server
  std::string name;      // code page 936
  std::string expected;  // the text the page gives, empty for none
};

// A chapter page of the fixtures, served as path (a query may follow).
TestChapter served(const std::string& page, const std::string& name, const std::string& query = "") {
  return {"/fixtures/pages/" + page + ".html" + query, gbk(name), page_fixture(page + ".expected")};
}

// Chapter i (from 1) of a book made of the fixture chapters in turn; no line of
// one stands in another, so none is taken for a line of the site's own.
TestChapter nth(int i, const std::string& query = "") {
  static const char* const pages[] = {"chapter_gbk", "chapter_utf8", "chapter_single_quoted", "chapter_utf8_quoted"};
  return served(pages[(i - 1) % 4], "第" + std::to_string(i) + "章", query);
}

TestChapter missing(const std::string& name) { return {"/fixtures/pages/no-such-chapter.html", gbk(name), ""}; }

std::string stored(const TestChapter& chapter) { return chapter.name + "\r\n" + chapter.expected + "\r\n"; }

// The Book as a parse would leave it: the title, the three lists.
void fill_book(const std::string& title, const std::vector<TestChapter>& chapters) {
  g_book.title = Text::copy_of(title.c_str());
  g_book.chapter_urls = Array<Text>::empty();
  g_book.chapter_names = Array<Text>::empty();
  g_book.chapter_texts = Array<Text>::empty();
  for (const TestChapter& chapter : chapters) {
    g_book.chapter_urls.append(fixture_address(chapter.path).c_str());
    g_book.chapter_names.append(chapter.name.c_str());
    g_book.chapter_texts.append(chapter.name.c_str());
  }
}

std::string file_bytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string element(const Array<Text>& list, int32_t i) {
  const char* text = list.at(i, test_location);
  return text ? text : "";
}

// Each test works in a folder of its own, the book's current directory.
class DownloadChapters : public testing::Test {
 protected:
  void SetUp() override {
    runtime_startup();
    create_book();
    previous_ = fs::current_path();
    folder_ = fs::temp_directory_path() /
              ("novelfetch-download-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    fs::current_path(folder_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(folder_);
    release_book();
  }
  fs::path folder_;
  fs::path previous_;
};

TEST_F(DownloadChapters, WritesEveryChapterInListOrderWhateverOrderTheWorkersFinishIn) {
  REQUIRE_FIXTURE_SERVER();
  struct Case {
    const char* label;
    std::vector<TestChapter> chapters;
  };
  // Chapter 1 is answered last, so worker 1 finishes after all the others;
  // with 11 chapters worker 1 also reads chapter 11.
  std::vector<TestChapter> eleven;
  for (int i = 1; i <= 11; ++i) eleven.push_back(nth(i, i == 1 ? "?delay=600" : ""));
  std::vector<TestChapter> ten(eleven.begin(), eleven.begin() + 10);
  const Case cases[] = {
      {"3 chapters, seven workers without a share",
       {served("chapter_gbk", "第一章", "?delay=300"), served("chapter_utf8", "第二章"),
        served("chapter_single_quoted", "第三章")}},
      {"10 chapters", ten},
      {"11 chapters", eleven},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fill_book("book", c.chapters);
    const ChapterDownloadResult result = download_chapters(quick());
    std::string expected;
    for (const TestChapter& chapter : c.chapters) expected += stored(chapter);
    const std::string written = file_bytes(folder_ / "book.txt");
    EXPECT_TRUE(written == expected) << shown(written.substr(0, 200));
    EXPECT_TRUE(result.saved);
    EXPECT_EQ(result.chapters_without_text, 0);
    ASSERT_EQ(g_book.done_flags.count(), 10);
    for (int32_t k = 1; k <= 10; ++k) EXPECT_EQ(g_book.done_flags.at(k, test_location), 1) << "flag " << k;
  }
}

TEST_F(DownloadChapters, CountsChaptersWithoutTextAndReplacesAnExistingFile) {
  REQUIRE_FIXTURE_SERVER();
  std::ofstream(folder_ / "book.txt", std::ios::binary) << std::string(100000, 'x');
  const std::vector<TestChapter> chapters = {served("chapter_gbk", "甲"),
                                             missing("乙"),
                                             served("chapter_utf8", "丙"),
                                             missing("丁"),
                                             {"/fixtures/pages/toc_directory.html", gbk("戊"), ""}};
  fill_book("book", chapters);
  const ChapterDownloadResult result = download_chapters(quick());
  std::string expected;
  for (const TestChapter& chapter : chapters) expected += stored(chapter);
  EXPECT_TRUE(file_bytes(folder_ / "book.txt") == expected) << "replaced, not appended to";
  EXPECT_TRUE(result.saved);
  EXPECT_EQ(result.chapters_without_text, 3) << "two missing pages and one page without prose";
}

// Starts every worker but the third.
void launch_all_but_third(ArgCell* result, int32_t count, const ArgCell* cells) {
  if (count > 1 && cells[1].low() == 3) {
    result->value = 0;
    return;
  }
  launch_thread(result, count, cells);
}

TEST_F(DownloadChapters, AWorkerThatCannotStartEndsItsShareAtOnceWithoutText) {
  REQUIRE_FIXTURE_SERVER();
  std::vector<TestChapter> chapters;
  for (int i = 1; i <= 13; ++i) chapters.push_back(nth(i));
  fill_book("book", chapters);
  ChapterDownloadOptions options = quick();
  options.launch = launch_all_but_third;
  std::vector<int32_t> finished;
  options.on_wait_step = [&finished](int32_t done, int32_t total) {
    EXPECT_EQ(total, 13);
    finished.push_back(done);
  };
  const auto started = std::chrono::steady_clock::now();
  const ChapterDownloadResult result = download_chapters(options);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30)) << "the wait ran on";
  EXPECT_EQ(result.chapters_without_text, 2) << "chapters 3 and 13";
  std::string expected;
  for (int i = 0; i < 13; ++i) expected += i == 2 || i == 12 ? chapters[i].name + "\r\n\r\n" : stored(chapters[i]);
  EXPECT_TRUE(file_bytes(folder_ / "book.txt") == expected);
  ASSERT_FALSE(finished.empty());
  EXPECT_EQ(finished.back(), 13) << "every chapter counts as finished, the third share's too";
}

TEST_F(DownloadChapters, WithoutChaptersNothingIsStartedOrWritten) {
  fill_book("book", {});
  const ChapterDownloadResult result = download_chapters(quick());
  EXPECT_TRUE(result.saved);
  EXPECT_EQ(result.chapters_without_text, 0);
  EXPECT_EQ(g_book.done_flags.count(), 0);
  EXPECT_TRUE(fs::is_empty(folder_));
}

TEST_F(DownloadChapters, ABookFileThatCannotBeCreatedIsReported) {
  REQUIRE_FIXTURE_SERVER();
  fs::create_directory(folder_ / "book.txt");
  fill_book("book", {served("chapter_gbk", "甲")});
  EXPECT_FALSE(download_chapters(quick()).saved);
  EXPECT_TRUE(fs::is_directory(folder_ / "book.txt"));
}

TEST_F(DownloadChapters, WorkersPastTheWaitLimitNeverTouchTheNextDownload) {
  REQUIRE_FIXTURE_SERVER();
  // Chapter 1 is answered after three seconds; the wait gives up after one.
  fill_book("first", {served("chapter_gbk", "甲", "?delay=3000"), served("chapter_utf8", "乙")});
  const ChapterDownloadResult first = download_chapters(quick(1));
  const std::string written = file_bytes(folder_ / "first.txt");
  EXPECT_TRUE(written == gbk("甲") + stored(served("chapter_utf8", "乙")))
      << "chapter 1 is written as the parse left it: " << shown(written.substr(0, 100));
  EXPECT_EQ(first.chapters_without_text, 1);

  // The next download's lists and flags, made while worker 1 still waits for
  // its page: it must store nothing there and set no flag.
  fill_book("second", {missing("丙"), missing("丁")});
  g_book.done_flags = Array<int32_t>::empty();
  for (int k = 0; k < 10; ++k) g_book.done_flags.append(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  EXPECT_EQ(element(g_book.chapter_texts, 1), gbk("丙"));
  EXPECT_EQ(element(g_book.chapter_texts, 2), gbk("丁"));
  for (int32_t k = 1; k <= 10; ++k) EXPECT_EQ(g_book.done_flags.at(k, test_location), 0) << "flag " << k;
}

// A later download of the same table of contents, against a state file that
// names chapters whose pages are gone now (404).
TEST_F(DownloadChapters, ALaterDownloadTakesWhatItHasAndKeepsWhatItHad) {
  REQUIRE_FIXTURE_SERVER();
  const std::string gone = fixture_address("/fixtures/pages/no-such-chapter.html");
  const std::string t1 = gbk("第一章的正文"), t2 = gbk("第二章的正文"), t4 = gbk("第四章的正文"),
                    t5 = gbk("第五章的旧正文");
  const std::string a1 = gone + "?1", a2 = gone + "?2", a4 = gone + "?4", a5 = gone + "?5", a7 = gone + "?7";
  const TestChapter c3 = nth(3), c6 = nth(6), c8 = nth(8);
  const std::string a3 = fixture_address(c3.path), a6 = fixture_address(c6.path);
  // Chapter 3 was incomplete, 5 to 7 are the last three places.
  const std::vector<ChapterState> before = {{a1, t1, true, true}, {a2, t2, true, true}, {a3, "x", false, true},
                                            {a4, t4, true, true}, {a5, t5, true, true}, {a6, "y", true, true},
                                            {a7, "", true, false}};
  std::ofstream(folder_ / "book.txt.novelfetch", std::ios::binary) << encode_book_state("toc", before);

  g_book.title = Text::copy_of("book");
  const std::vector<std::pair<std::string, std::string>> chapters = {
      {a1, gbk("一")}, {a2, gbk("二")}, {a3, c3.name},   {a4, gbk("四")},
      {a5, gbk("五")}, {a6, c6.name},   {a7, gbk("七")}, {fixture_address(c8.path), c8.name}};
  g_book.chapter_urls = Array<Text>::empty();
  g_book.chapter_names = Array<Text>::empty();
  g_book.chapter_texts = Array<Text>::empty();
  for (const auto& [address, name] : chapters) {
    g_book.chapter_urls.append(address.c_str());
    g_book.chapter_names.append(name.c_str());
    g_book.chapter_texts.append(name.c_str());
  }
  const PreviousDownload previous = read_previous_download("toc");
  EXPECT_EQ(previous.taken, 3) << "1, 2 and 4";
  EXPECT_EQ(read_previous_download("another toc").taken, 0);
  ChapterDownloadOptions options = quick();
  options.previous = &previous;
  std::vector<int32_t> totals;
  options.on_wait_step = [&totals](int32_t, int32_t total) { totals.push_back(total); };
  const ChapterDownloadResult result = download_chapters(options);

  const std::string expected = gbk("一\r\n") + t1 + "\r\n" + gbk("二\r\n") + t2 + "\r\n" + stored(c3) + gbk("四\r\n") +
                               t4 + "\r\n" + gbk("五\r\n") + t5 + "\r\n" + stored(c6) + gbk("七\r\n\r\n") + stored(c8);
  const std::string written = file_bytes(folder_ / "book.txt");
  EXPECT_TRUE(written == expected) << shown(written.substr(0, 300));
  EXPECT_EQ(result.chapters_without_text, 1);
  EXPECT_EQ(result.chapters_incomplete, 0);
  ASSERT_FALSE(totals.empty());
  EXPECT_EQ(totals.back(), 5) << "the caption counts the chapters fetched";

  BookState after;
  ASSERT_TRUE(decode_book_state(file_bytes(folder_ / "book.txt.novelfetch"), after));
  EXPECT_EQ(after.contents_address, "toc");
  ASSERT_EQ(after.chapters.size(), 8u);
  EXPECT_EQ(after.chapters[4].text, t5) << "kept, though its page is gone";
  EXPECT_EQ(after.chapters[2].text, c3.expected);
  EXPECT_TRUE(after.chapters[2].complete);
  EXPECT_FALSE(after.chapters[6].had_text);
  EXPECT_TRUE(after.chapters[7].had_text);
}

// Writes the first 1000 bytes of every file and then fails, as a full disk does.
bool write_until_full(intptr_t handle, const void* bytes, uint32_t count) {
  static thread_local intptr_t last_handle = -1;
  static thread_local uint64_t written = 0;
  if (handle != last_handle) written = 0;
  last_handle = handle;
  const uint64_t room = written < 1000 ? 1000 - written : 0;
  written += count;
  return platform::write_to_file(handle, bytes, static_cast<uint32_t>(std::min<uint64_t>(count, room))) &&
         count <= room;
}

bool replace_fails(const char*, const char*) { return false; }

TEST_F(DownloadChapters, AFailedWriteLeavesTheOldBookAndStateFileByteForByte) {
  REQUIRE_FIXTURE_SERVER();
  std::vector<TestChapter> chapters;
  for (int i = 1; i <= 5; ++i) chapters.push_back(nth(i));
  fill_book("book", chapters);
  PreviousDownload whole;
  whole.contents_address = "toc";
  whole.chapters.resize(chapters.size());
  ChapterDownloadOptions options = quick();
  options.previous = &whole;
  ASSERT_TRUE(download_chapters(options).saved);
  const std::string book = file_bytes(folder_ / "book.txt");
  const std::string state = file_bytes(folder_ / "book.txt.novelfetch");
  ASSERT_GT(book.size(), 2000u);

  platform::FileCalls full_disk = platform::default_file_calls();
  full_disk.write_to_file = write_until_full;
  platform::FileCalls no_rename = platform::default_file_calls();
  no_rename.replace_file = replace_fails;
  for (const platform::FileCalls& calls : {full_disk, no_rename}) {
    chapters.push_back(nth(static_cast<int>(chapters.size()) + 1));
    fill_book("book", chapters);
    whole.chapters.resize(chapters.size());
    platform::set_file_calls(calls);
    const bool saved = download_chapters(options).saved;
    platform::set_file_calls(platform::default_file_calls());
    EXPECT_FALSE(saved);
    EXPECT_TRUE(file_bytes(folder_ / "book.txt") == book);
    EXPECT_TRUE(file_bytes(folder_ / "book.txt.novelfetch") == state);
    EXPECT_FALSE(fs::exists(folder_ / "book.txt.new")) << "no new copy is left behind";
  }
}

}  // namespace
