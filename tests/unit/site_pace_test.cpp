#include "novel/site_pace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <queue>
#include <vector>

#include "web/retry_after.h"

namespace {

// 2026-12-07 12:00:00 UTC.
constexpr int64_t now = 1796644800;

TEST(RetryAfter, ReadsSecondsAndTheThreeDateFormsCappedAndNeverNegative) {
  const struct {
    const char* value;
    int32_t seconds;
  } cases[] = {
      {"0", 0},
      {" 7 ", 7},
      {"120", 120},
      {"121", 120},
      {"99999999999999999999", 120},
      {"Mon, 07 Dec 2026 12:00:30 GMT", 30},
      {"Monday, 07-Dec-26 12:01:00 GMT", 60},
      {"Mon Dec  7 12:00:05 2026", 5},
      {"Mon, 07 Dec 2026 13:00:00 GMT", 120},
      {"Mon, 07 Dec 2026 11:59:00 GMT", 0},  // already past
      {"Sun, 06 Nov 1994 08:49:37 GMT", 0},
      {nullptr, -1},
      {"", -1},
      {"soon", -1},
      {"-5", -1},
      {"1.5", -1},
      {"10 s", -1},
      {"Mon, 07 Dec 2026 12:00:30 UTC", -1},
      {"Mon, 31 Feb 2026 12:00:30 GMT", -1},
      {"Mon, 07 Dec 2026 25:00:30 GMT", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(retry_after_seconds(c.value, now), c.seconds) << (c.value ? c.value : "(null)");
}

TEST(SitePace, AttemptsAreRetriedOnlyWhenTheFailureMayPass) {
  for (int32_t status : {0, 408, 425, 429, 500, 502, 503, 504})
    EXPECT_EQ(chapter_attempt_verdict(status, false), AttemptVerdict::transient) << status;
  EXPECT_EQ(chapter_attempt_verdict(200, false), AttemptVerdict::transient) << "a page without text";
  for (int32_t status : {200, 404, 410, 403, 400, 501})
    EXPECT_EQ(chapter_attempt_verdict(status, true), AttemptVerdict::done) << status;
  for (int32_t status : {404, 410, 403, 451, 501})
    EXPECT_EQ(chapter_attempt_verdict(status, false), AttemptVerdict::done) << status;

  for (int32_t status : {0, 408, 429, 500, 501, 503, 599})
    EXPECT_EQ(contents_attempt_verdict(status), AttemptVerdict::transient) << status;
  for (int32_t status : {200, 404, 410, 425})
    EXPECT_EQ(contents_attempt_verdict(status), AttemptVerdict::done) << status;
}

TEST(SitePace, RetryDelaysSpreadByAFifthOrFollowRetryAfter) {
  const RetryDelays delays;
  EXPECT_EQ(retry_delay_milliseconds(delays, 1, -1, 0.0), 1600);
  EXPECT_EQ(retry_delay_milliseconds(delays, 1, -1, 1.0), 2400);
  EXPECT_EQ(retry_delay_milliseconds(delays, 2, -1, 0.5), 6000);
  EXPECT_EQ(retry_delay_milliseconds(delays, 3, -1, 0.0), 14400);
  EXPECT_EQ(retry_delay_milliseconds(delays, 3, -1, 1.0), 21600);
  EXPECT_EQ(retry_delay_milliseconds(delays, 1, 0, 0.3), 0);
  EXPECT_EQ(retry_delay_milliseconds(delays, 3, 45, 0.3), 45000);
}

// Starts a request at each step from from to before to and answers it good 20 ms later.
void good_pages(PaceGate& gate, int64_t from, int64_t to, int64_t step) {
  for (int64_t time = from; time < to; time += step) {
    PaceGate::Ticket ticket;
    ASSERT_TRUE(gate.try_enter(time, ticket)) << time;
    gate.leave_at(time + 20, ticket, signs_of(200, true, -1));
  }
}

// Requests as fast as the gate lets them start, each answered good 20 ms later.
void pages_at_the_gate_pace(PaceGate& gate, int64_t from, int64_t to) {
  for (int64_t time = from; time < to; time = gate.next_start(time + 1)) {
    PaceGate::Ticket ticket;
    if (gate.try_enter(time, ticket)) gate.leave_at(time + 20, ticket, signs_of(200, true, -1));
  }
}

TEST(SitePace, EachKindOfRefusalHoldsLowersTheRateAndGoodPagesRaiseItAgain) {
  struct Refusal {
    const char* label;
    std::vector<AnswerSigns> answers;  // the last one refuses
    int64_t wait;
  };
  const Refusal refusals[] = {
      {"429", {signs_of(429, false, -1)}, 1000},
      {"503 with Retry-After", {signs_of(503, false, 3)}, 3000},
      {"Retry-After on a page", {signs_of(200, true, 2)}, 2000},
      {"three pages without text in a row",
       {signs_of(200, false, -1), signs_of(200, false, -1), signs_of(0, false, -1), signs_of(200, false, -1),
        signs_of(404, false, -1), signs_of(200, false, -1), signs_of(200, false, -1), signs_of(200, false, -1)},
       1000},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.label);
    PaceGate gate;
    good_pages(gate, 0, 10000, 50);  // 20 a second, nothing limited
    EXPECT_EQ(gate.rate(), 0);
    int64_t time = 10000;
    for (const AnswerSigns& signs : r.answers) {
      EXPECT_EQ(gate.refusals(), 0) << "no refusal before the last answer";
      PaceGate::Ticket ticket;
      ASSERT_TRUE(gate.try_enter(time, ticket));
      gate.leave_at(time += 20, ticket, signs);
    }
    EXPECT_EQ(gate.refusals(), 1);
    const int64_t refused_at = time;
    PaceGate::Ticket ticket;
    EXPECT_FALSE(gate.try_enter(refused_at + r.wait - 1, ticket)) << "the wait holds";
    EXPECT_EQ(gate.next_start(refused_at), refused_at + r.wait);
    // Requests a second over the 10 s up to the refusal.
    const double measured = (200 - (refused_at - 10000) / 50 - 1 + static_cast<double>(r.answers.size())) / 10;
    EXPECT_NEAR(gate.rate(), 0.8 * measured, 0.1);

    pages_at_the_gate_pace(gate, refused_at, refused_at + 10000);
    EXPECT_LE(gate.rate(), 0.9 * measured + 0.01) << "bounded for 10 s";
    EXPECT_GT(gate.rate(), 0.85 * measured);
    pages_at_the_gate_pace(gate, refused_at + 10000, refused_at + 20000);
    EXPECT_GT(gate.rate(), measured) << "and free to grow after them";
  }
}

TEST(SitePace, TheOwnWaitGrowsWhileRefusalsGoOnAndABurstLowersTheRateOnce) {
  PaceGate gate;
  PaceGate::Ticket tickets[10];
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(gate.try_enter(i, tickets[i]));
  for (int i = 0; i < 10; ++i) gate.leave_at(100 + i, tickets[i], signs_of(503, false, -1));
  EXPECT_EQ(gate.refusals(), 10);
  EXPECT_EQ(gate.next_start(109), 1109) << "one second from the last refusal";
  EXPECT_NEAR(gate.rate(), 0.8 * 10 / 0.1, 0.5) << "lowered once, from the rate of the first refusal";

  PaceGate::Ticket ticket;
  ASSERT_TRUE(gate.try_enter(1109, ticket));
  gate.leave_at(1200, ticket, signs_of(503, false, -1));
  EXPECT_EQ(gate.next_start(1200), 3200) << "two seconds for the second";
  ASSERT_TRUE(gate.try_enter(3200, ticket));
  gate.leave_at(3300, ticket, signs_of(200, true, -1));
  ASSERT_TRUE(gate.try_enter(gate.next_start(3300), ticket));
  gate.leave_at(3500, ticket, signs_of(503, false, -1));
  EXPECT_EQ(gate.next_start(3500), 4500) << "one second again after a good page";
}

// A site that allows rate requests a second (a bucket of as many) and refuses
// beyond, answered 20 ms after they start; ten workers each read their own
// pages as fast as the gate lets them and ask again for a refused page at once.
struct SimulatedSite {
  const char* label;
  int32_t status;       // of a refused request
  int32_t retry_after;  // seconds, -1 for none
  int64_t ban;          // refuses everything for so long after the first refusal
};

TEST(SitePace, NeverHammersASiteThatRefusesAboveItsRate) {
  const SimulatedSite sites[] = {
      {"429 with Retry-After: 1", 429, 1, 0},
      {"503 without Retry-After", 503, -1, 0},
      {"a busy page and a ban of 3 s", 200, -1, 3000},
  };
  constexpr double rate = 20;
  constexpr int32_t pages = 300;
  constexpr int32_t workers = 10;
  for (const SimulatedSite& site : sites) {
    SCOPED_TRACE(site.label);
    PaceGate gate;
    double tokens = rate;
    int64_t refilled = 0, banned_until = 0;
    std::vector<int64_t> starts, refusals;
    int32_t left[workers], refused = 0;
    bool asked[workers] = {}, granted[workers] = {};
    PaceGate::Ticket tickets[workers];
    std::fill(left, left + workers, pages / workers);
    // (time, worker): when each worker acts next.
    std::priority_queue<std::pair<int64_t, int>, std::vector<std::pair<int64_t, int>>, std::greater<>> wakes;
    for (int w = 0; w < workers; ++w) wakes.push({0, w});
    int64_t time = 0;
    while (!wakes.empty()) {
      const auto [now, w] = wakes.top();
      wakes.pop();
      time = now;
      if (asked[w]) {
        asked[w] = false;
        const int32_t before = gate.refusals();
        gate.leave_at(now, tickets[w],
                      granted[w] ? signs_of(200, true, -1) : signs_of(site.status, false, site.retry_after));
        if (gate.refusals() > before) refusals.push_back(now);
        if (granted[w]) --left[w];
      }
      if (left[w] == 0) continue;
      if (!gate.try_enter(now, tickets[w])) {
        wakes.push({gate.next_start(now), w});
        continue;
      }
      starts.push_back(now);
      tokens = std::min(rate, tokens + (now - refilled) * rate / 1000);
      refilled = now;
      granted[w] = now >= banned_until && tokens >= 1;
      if (granted[w]) {
        tokens -= 1;
      } else {
        if (now >= banned_until) banned_until = now + site.ban;
        ++refused;
      }
      asked[w] = true;
      wakes.push({now + 20, w});
    }
    std::printf("%s: %d pages in %.1f s, %zu requests, %d refused, %zu refusals taken\n", site.label, pages,
                time / 1000.0, starts.size(), refused, refusals.size());
    ASSERT_FALSE(refusals.empty());
    for (const int64_t refused_at : refusals) {
      const int64_t span = std::min<int64_t>(10000, refused_at - starts.front());
      const auto in = [&starts](int64_t from, int64_t to) {  // starts in (from, to]
        return std::upper_bound(starts.begin(), starts.end(), to) -
               std::upper_bound(starts.begin(), starts.end(), from);
      };
      const auto before = in(refused_at - span, refused_at);
      const auto after = in(refused_at, refused_at + 9999);
      EXPECT_LT(after * span, before * 10000) << "at " << refused_at << " ms: " << before << " requests in the " << span
                                              << " ms before, " << after << " in the 10 s after";
    }
  }
}

}  // namespace
