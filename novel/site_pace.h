// The pace of one download: fetching a page again after a transient failure,
// and holding every worker back when the site says it is asked too often.
//
// Retries. A chapter page is fetched again when its answer failed for a reason
// that may pass: no answer at all (the fetch failed or ran out of time), one of
// the statuses 408, 425, 429, 500, 502, 503 and 504, or a 200 page that gave no
// chapter text (the commonest disguise of a throttled answer). At most three
// retries follow, after 2, 6 and 18 seconds (each 20% shorter or longer at
// random, so ten workers do not come back at the same moment), or after the
// wait the answer's Retry-After asks for. Every other 4xx answer is final at
// once. Table-of-contents pages are retried alike for no answer, 408, 429 and
// every 5xx status.
//
// The gate. Every request of a download passes one PaceGate. A 429 or 503
// answer, any answer with a Retry-After, or three 200 pages in a row without
// chapter text (across all workers) is a sign of throttling: no request starts
// until the wait it asks for has passed (the Retry-After, else the retry
// delay of that request, and 10 seconds for the empty pages), and the number
// of requests in flight is halved, down to 1. It grows back by one after every
// 20 good pages, up to 10. One burst of throttled answers halves the number
// once: an answer to a request that started before the last halving only
// lengthens the wait.
//
// Times are milliseconds on a clock that never goes backwards. The gate's
// decisions take the time as an argument, so tests run them on a clock of
// their own; enter and leave read the steady clock and may be called from any
// thread at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

// ---- Retries ------------------------------------------------------------------

inline constexpr int32_t most_retries = 3;

enum class AttemptVerdict {
  done,       // the page gave what was asked for, or a final answer: no retry
  transient,  // fetch it again, when retries are left
};

// A chapter page's attempt: status 0 when no answer came; has_text whether the
// page gave chapter text.
AttemptVerdict chapter_attempt_verdict(int32_t status, bool has_text);
// A table-of-contents page's attempt.
AttemptVerdict contents_attempt_verdict(int32_t status);

// The wait before retry number retry (1 to 3): retry_after_seconds when it is
// 0 or more, else the retry's base delay times a factor from 0.8 to 1.2 picked
// by random01 (0 to 1).
struct RetryDelays {
  int32_t base_milliseconds[most_retries] = {2000, 6000, 18000};
};
int64_t retry_delay_milliseconds(const RetryDelays& delays, int32_t retry, int32_t retry_after_seconds,
                                 double random01);

// ---- The gate ---------------------------------------------------------------

// What one answer tells the gate.
struct AnswerSigns {
  bool throttled = false;            // 429 or 503
  int32_t retry_after_seconds = -1;  // the Retry-After it carried, -1 when none
  bool good = false;                 // a page that gave what was asked for
  bool empty = false;                // a 200 page that gave no chapter text
  int64_t fallback_wait = 0;         // the wait of a throttled answer without Retry-After
};

AnswerSigns signs_of(int32_t status, bool has_text, int32_t retry_after_seconds, int64_t fallback_wait);

class PaceGate {
 public:
  static constexpr int32_t most_in_flight = 10;
  static constexpr int32_t good_pages_per_step = 20;
  static constexpr int32_t empty_pages_in_a_row = 3;
  static constexpr int64_t empty_pages_wait = 10000;

  // When a request started; leave takes it back.
  struct Ticket {
    int64_t started_at = 0;
  };

  // ---- Decisions at a given time (tests, and the main thread's own waits) ----

  // Milliseconds until the current hold ends; 0 when there is none.
  int64_t hold_left(int64_t now);
  // Takes a place for a request starting at now, when no hold stands and a
  // place is free.
  bool try_enter(int64_t now, Ticket& ticket);
  // A request that took a place has its answer.
  void leave_at(int64_t now, const Ticket& ticket, const AnswerSigns& signs);
  int32_t in_flight_limit();
  int32_t in_flight();

  // ---- Blocking, on the steady clock (the chapter workers) -------------------

  // Waits until a request may start and takes its place.
  Ticket enter();
  void leave(const Ticket& ticket, const AnswerSigns& signs);

  static int64_t now();

 private:
  void hold_for(int64_t now, int64_t wait, const Ticket& ticket);

  std::mutex lock_;
  std::condition_variable changed_;
  int32_t limit_ = most_in_flight;
  int32_t in_flight_ = 0;
  int64_t hold_until_ = 0;
  int64_t last_halving_ = INT64_MIN;
  int32_t good_pages_ = 0;
  int32_t empty_pages_ = 0;
};
