#include "novel/contents_download.h"

#include <algorithm>
#include <random>
#include <set>
#include <string>

#include "novel/table_of_contents.h"
#include "runtime/threads.h"
#include "web/fetch_page.h"
#include "web/retry_after.h"
#include "web/utf8_to_local.h"

namespace {

// The longest single wait step, so that the dialog's messages keep flowing.
constexpr int32_t longest_wait_step = 1000;

// The steady clock, whose waits keep the dialog answering.
class DialogClock : public PaceClock {
 public:
  int64_t now() override { return steady_pace_clock().now(); }
  void wait_until(int64_t time) override {
    for (int64_t left = time - now(); left > 0; left = time - now())
      timed_wait(static_cast<int32_t>(std::min<int64_t>(left, longest_wait_step)), 0);
  }
};

// The page at address as the program searches it, after its retries.
Text fetch_contents_page(const char* address, PaceGate& gate, const RetryDelays& delays) {
  std::mt19937 generator(std::random_device{}());
  DialogClock clock;
  for (int32_t retry = 0;; ++retry) {
    const PaceGate::Ticket ticket = gate.enter(clock);
    PageAnswer answer = fetch_page_answer(address);
    // No answer, but a text: no HTTP class could be made, which no retry mends.
    const bool no_http_class = answer.status == 0 && !answer.body.empty();
    Text page = searchable_page(std::move(answer.body));
    const int32_t retry_after = retry_after_seconds(answer.retry_after.get(), seconds_since_1970());
    // A table of contents holds no chapter text: only its status speaks of the site's pace.
    gate.leave(clock, ticket, signs_of(answer.status, true, retry_after));
    if (no_http_class || contents_attempt_verdict(answer.status) == AttemptVerdict::done || retry == most_retries)
      return page;
    clock.wait_until(clock.now() +
                     retry_delay_milliseconds(delays, retry + 1, retry_after,
                                              std::uniform_real_distribution<double>(0.0, 1.0)(generator)));
  }
}

}  // namespace

bool download_table_of_contents(const char* address, PaceGate& gate, const RetryDelays& delays) {
  const Text first = fetch_contents_page(address, gate, delays);
  if (first.length() < shortest_contents_page) return false;
  std::set<std::string> pages_read;
  Text next = read_contents_page(address, address, first.get(), true, pages_read);
  // The parser names no next page once most_contents_pages have been read.
  while (!next.empty()) {
    const Text page = fetch_contents_page(next.get(), gate, delays);
    if (page.length() < shortest_contents_page) break;
    next = read_contents_page(address, next.get(), page.get(), false, pages_read);
  }
  keep_last_of_repeated_chapters();
  return true;
}
