#include "novel/chapter_pages.h"

#include <chrono>
#include <thread>

#include "novel/extract_chapter.h"
#include "novel/links.h"
#include "platform/system.h"
#include "web/fetch_page.h"
#include "web/retry_after.h"
#include "web/utf8_to_local.h"

namespace {

// A fetched page as the program searches it, and what it gave.
struct PageRead {
  Text page;
  ChapterPageText text;
};

double random01() {
  thread_local std::mt19937 generator(std::random_device{}());
  return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
}

// Fetches address until its text_of gives text, a final answer comes, or the
// retries run out; the last attempt's page and text count.
template <typename TextOf>
PageRead read_page(const char* address, PagePace& pace, TextOf text_of) {
  PageRead read;
  for (int32_t retry = 0;; ++retry) {
    const PaceGate::Ticket ticket = pace.gate.enter();
    PageAnswer answer = fetch_page_answer(address);
    // No answer, but a text: no HTTP class could be made, which no retry mends.
    const bool no_http_class = answer.status == 0 && !answer.body.empty();
    read.page = searchable_page(std::move(answer.body));
    read.text = text_of(read.page.get());
    const bool has_text = !read.text.text.empty();
    const int32_t retry_after = retry_after_seconds(answer.retry_after.get(), seconds_since_1970());
    const int64_t delay = retry_delay_milliseconds(pace.delays, retry + 1, retry_after, random01());
    pace.gate.leave(ticket, signs_of(answer.status, has_text, retry_after, delay));
    if (no_http_class || chapter_attempt_verdict(answer.status, has_text) == AttemptVerdict::done ||
        retry == most_retries)
      return read;
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  }
}

}  // namespace

ChapterPages read_chapter_pages(const char* address, const char* name, PagePace& pace) {
  platform::com_initialize();
  ChapterPages result;
  PageRead page = read_page(address, pace, [](const char* page) { return chapter_text_of(page); });
  const Text start_tag = std::move(page.text.block_start_tag);
  Text text = std::move(page.text.text);
  result.has_text = !text.empty();

  for (int32_t k = 2; result.has_text && k <= most_chapter_pages; ++k) {
    const Text follow = follow_page_address(address, k);
    if (follow.empty() || !page_links_to(page.page.get(), address, follow.get())) break;
    page = read_page(follow.get(), pace, [&start_tag](const char* page) {
      return ChapterPageText{follow_page_text(page, start_tag.get()), Text()};
    });
    if (page.text.text.empty()) {
      result.incomplete = true;
      break;
    }
    text = join(text, "\r\n", page.text.text);
  }
  result.chapter = join(name, "\r\n", text, "\r\n");
  return result;
}
