// The pace of one download: fetching a page again after a transient failure,
// and the pace at which the site lets itself be asked.
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
// The gate. Every request of a download passes one PaceGate, which limits
// nothing until the site first refuses. A refusal is a 429 or 503 answer, any
// answer with a Retry-After, or three 200 pages in a row without chapter text
// (across all workers; any other answer breaks the row). After a refusal no
// request starts until the wait the site asked for has passed; when it asked
// for none, one second, doubled with every further refusal that comes before a
// page succeeds (at most 16 seconds). Requests then start at a steady rate,
// evenly spaced so that ten workers cannot burst past it: 0.8 times the rate of
// the last 10 seconds before the refusal (measured since the first request when
// that is shorter), and never above the rate the gate had. Each page that gives
// what was asked for raises the rate by 5% per second since the last raise.
// For 10 seconds after a refusal the rate stays at most 0.9 times the rate
// measured before it, and the first request after it waits one spacing at the
// least, so over those 10 seconds fewer requests start than in the 10 before.
// One burst of refused answers lowers the rate once: an answer to a request
// that started before the last refusal only lengthens the wait and keeps its
// own 10-second bound. Nor does a refusal that comes before any page has
// succeeded since the last one lower the rate again: it says that the site
// still refuses, not that the requests came too fast, and doubles the wait.
//
// Times are milliseconds on a clock that never goes backwards. The gate's
// decisions take the time as an argument; the blocking calls take a PaceClock,
// which tests replace with a clock of their own. Any thread may call the gate.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>

// ---- Time ---------------------------------------------------------------------

// The time and the waits of one download's threads, in milliseconds.
class PaceClock {
 public:
  virtual ~PaceClock() = default;
  virtual int64_t now() = 0;
  // Returns once now() has reached time (at once when it has).
  virtual void wait_until(int64_t time) = 0;
};

// The steady clock; its waits put the calling thread to sleep. Shared by all threads.
PaceClock& steady_pace_clock();

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
};

AnswerSigns signs_of(int32_t status, bool has_text, int32_t retry_after_seconds);

class PaceGate {
 public:
  static constexpr int64_t measured_span = 10000;  // the span of the measured rate and of its bound
  static constexpr int64_t first_wait = 1000;      // after a refusal that asks for no wait
  static constexpr int64_t longest_own_wait = 16000;
  static constexpr double rate_after_refusal = 0.8;  // times the measured rate
  static constexpr double bound_after_refusal = 0.9;
  static constexpr double growth_per_second = 0.05;
  static constexpr double lowest_rate = 0.1;  // requests a second: one in 10 seconds
  static constexpr double highest_rate = 1000;
  static constexpr int32_t empty_pages_in_a_row = 3;

  // When a request started; leave takes it back.
  struct Ticket {
    int64_t started_at = 0;
  };

  // ---- Decisions at a given time -----------------------------------------------

  // Takes a start for a request at now when the pace allows one.
  bool try_enter(int64_t now, Ticket& ticket);
  // The earliest time from now on at which try_enter may succeed.
  int64_t next_start(int64_t now);
  // A request that started has its answer.
  void leave_at(int64_t now, const Ticket& ticket, const AnswerSigns& signs);
  // Requests a second allowed now; 0 while nothing is limited.
  double rate();
  // How many answers the gate took for refusals so far.
  int32_t refusals();

  // ---- Blocking, on a clock ------------------------------------------------------

  // Waits until a request may start and takes its start.
  Ticket enter(PaceClock& clock);
  void leave(PaceClock& clock, const Ticket& ticket, const AnswerSigns& signs);

 private:
  void refuse(int64_t now, const Ticket& ticket, int64_t asked_wait);
  double measured_rate(int64_t now);
  double bound(int64_t now);

  struct Bound {
    int64_t until;
    double rate;
  };

  std::mutex lock_;
  bool limited_ = false;
  double rate_ = 0;         // requests a second while limited
  double next_slot_ = 0;    // the earliest start of the next request while limited
  int64_t hold_until_ = 0;  // no request starts before
  int64_t first_start_ = -1;
  int64_t last_refusal_ = INT64_MIN;
  int64_t last_growth_ = 0;
  int32_t refusals_in_a_row_ = 0;
  int32_t empty_pages_ = 0;
  int32_t refusals_ = 0;
  std::deque<int64_t> starts_;  // of the last measured_span
  std::deque<Bound> bounds_;    // one for each refusal of the last measured_span
};
