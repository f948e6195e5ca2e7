#include "novel/chapter_pages.h"

#include <map>
#include <optional>
#include <random>
#include <utility>

#include "novel/extract_chapter.h"
#include "novel/links.h"
#include "platform/system.h"
#include "web/retry_after.h"
#include "web/utf8_to_local.h"

namespace {

double random01() {
  thread_local std::mt19937 generator(std::random_device{}());
  return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
}

// One chapter read page after page, one fetch at a time, so that its worker
// can put it aside while it waits for a retry.
class ChapterRead {
 public:
  explicit ChapterRead(ChapterToRead chapter) : chapter_(std::move(chapter)) {}

  // The page to fetch next, and from when.
  const char* page_address() const { return page_ == 1 ? chapter_.address.get() : follow_.get(); }
  int64_t due() const { return due_; }
  bool finished() const { return finished_; }
  int32_t index() const { return chapter_.index; }

  // Takes the answer of one fetch of page_address() that came at now; returns
  // what it tells the gate.
  AnswerSigns take(PageAnswer answer, int64_t now, const PagePace& pace) {
    // No answer, but a text: no HTTP class could be made, which no retry mends.
    const bool no_http_class = answer.status == 0 && !answer.body.empty();
    const Text page = searchable_page(std::move(answer.body));
    ChapterPageText read;
    if (page_ == 1) {
      read = chapter_text_of(page.get());
    } else {
      read.text = follow_page_text(page.get(), start_tag_.get());
    }
    const bool has_text = !read.text.empty();
    const int32_t retry_after = retry_after_seconds(answer.retry_after.get(), seconds_since_1970());
    const AnswerSigns signs = signs_of(answer.status, has_text, retry_after);
    if (!no_http_class && retry_ < most_retries &&
        chapter_attempt_verdict(answer.status, has_text) == AttemptVerdict::transient) {
      ++retry_;
      due_ = now +
             retry_delay_milliseconds(pace.delays, retry_, retry_after, pace.random01 ? pace.random01() : random01());
      return signs;
    }

    // This page's tries are over; the last one counts.
    retry_ = 0;
    due_ = now;
    if (page_ == 1) {
      start_tag_ = std::move(read.block_start_tag);
      text_ = std::move(read.text);
    } else if (has_text) {
      text_ = join(text_, "\r\n", read.text);
    } else {
      incomplete_ = true;
    }
    finished_ = true;
    if (text_.empty() || incomplete_ || page_ == most_chapter_pages) return signs;
    Text follow = follow_page_address(chapter_.address.get(), page_ + 1);
    if (!follow.empty() && page_links_to(page.get(), chapter_.address.get(), follow.get())) {
      follow_ = std::move(follow);
      ++page_;
      finished_ = false;
    }
    return signs;
  }

  ChapterPages finish() {
    ChapterPages result;
    result.has_text = !text_.empty();
    result.incomplete = incomplete_;
    result.chapter = join(chapter_.name, "\r\n", text_, "\r\n");
    return result;
  }

 private:
  ChapterToRead chapter_;
  int32_t page_ = 1;   // the page being read: 1 for the chapter's own, k for its follow page k
  int32_t retry_ = 0;  // retries of that page so far
  int64_t due_ = 0;
  bool finished_ = false;
  bool incomplete_ = false;
  Text follow_;     // the follow page's address
  Text start_tag_;  // of the first page's block
  Text text_;       // the pages' texts so far
};

}  // namespace

bool read_share(PagePace& pace, const std::function<bool(ChapterToRead& chapter)>& next,
                const std::function<bool(int32_t index, ChapterPages chapter)>& store) {
  platform::com_initialize();
  // The chapters put aside, the earliest due first; of equal times the one put aside first.
  std::multimap<int64_t, ChapterRead> pending;
  bool new_left = true;
  for (;;) {
    std::optional<ChapterRead> current;
    if (!pending.empty() && pending.begin()->first <= pace.clock.now()) {
      current.emplace(std::move(pending.begin()->second));
      pending.erase(pending.begin());
    } else if (new_left) {
      ChapterToRead chapter;
      new_left = next(chapter);
      if (new_left) current.emplace(std::move(chapter));
    } else if (!pending.empty()) {
      pace.clock.wait_until(pending.begin()->first);
    } else {
      return true;
    }
    if (!current) continue;

    const PaceGate::Ticket ticket = pace.gate.enter(pace.clock);
    PageAnswer answer = pace.fetch(current->page_address());
    const int64_t answered = pace.clock.now();
    pace.gate.leave_at(answered, ticket, current->take(std::move(answer), answered, pace));
    if (!current->finished()) {
      pending.emplace(current->due(), std::move(*current));
    } else if (!store(current->index(), current->finish())) {
      return false;
    }
  }
}
