#include "novel/site_pace.h"

#include <gtest/gtest.h>

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

TEST(SitePace, ThrottlingHoldsEveryRequestAndHalvesThePlacesOncePerBurst) {
  PaceGate gate;
  PaceGate::Ticket tickets[10];
  for (auto& ticket : tickets) ASSERT_TRUE(gate.try_enter(0, ticket));
  PaceGate::Ticket more;
  EXPECT_FALSE(gate.try_enter(0, more)) << "ten in flight at most";

  // The whole burst answers 429: one halving, the longest wait holds.
  gate.leave_at(100, tickets[0], signs_of(429, false, 1, 2000));
  for (int i = 1; i < 10; ++i) gate.leave_at(110, tickets[i], signs_of(429, false, i == 9 ? 3 : -1, 2000));
  EXPECT_EQ(gate.in_flight_limit(), 5);
  EXPECT_EQ(gate.hold_left(110), 3000);
  EXPECT_FALSE(gate.try_enter(3109, more));
  ASSERT_TRUE(gate.try_enter(3110, more));

  // A throttled answer to a request that started after the halving halves again.
  gate.leave_at(3200, more, signs_of(503, false, -1, 2000));
  EXPECT_EQ(gate.in_flight_limit(), 2);
  EXPECT_EQ(gate.hold_left(3200), 2000);

  // Twenty good pages give one place back, up to ten.
  int64_t time = 10000;
  for (int page = 0; page < 20 * 12; ++page) {
    PaceGate::Ticket ticket;
    ASSERT_TRUE(gate.try_enter(time, ticket));
    gate.leave_at(++time, ticket, signs_of(200, true, -1, 2000));
    if (page == 19) {
      EXPECT_EQ(gate.in_flight_limit(), 3);
    }
  }
  EXPECT_EQ(gate.in_flight_limit(), 10);
}

TEST(SitePace, ThreeEmptyPagesInARowHoldForTenSeconds) {
  PaceGate gate;
  auto answer = [&gate](int64_t at, bool has_text) {
    PaceGate::Ticket ticket;
    ASSERT_TRUE(gate.try_enter(at, ticket));
    gate.leave_at(at, ticket, signs_of(200, has_text, -1, 2000));
  };
  answer(0, false);
  answer(1, false);
  answer(2, true);  // a page with text breaks the row
  answer(3, false);
  answer(4, false);
  EXPECT_EQ(gate.hold_left(4), 0);
  answer(5, false);
  EXPECT_EQ(gate.hold_left(5), 10000);
  EXPECT_EQ(gate.in_flight_limit(), 5);

  PaceGate other;
  PaceGate::Ticket ticket;
  ASSERT_TRUE(other.try_enter(0, ticket));
  other.leave_at(0, ticket, signs_of(404, false, -1, 2000));
  EXPECT_EQ(other.hold_left(0), 0) << "a missing page says nothing of the pace";
  EXPECT_EQ(other.in_flight_limit(), 10);
}

}  // namespace
