#include "novel/site_pace.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "web/retry_after.h"

namespace {

bool is_transient_status(int32_t status) {
  switch (status) {
    case 408:
    case 425:
    case 429:
    case 500:
    case 502:
    case 503:
    case 504: return true;
    default: return false;
  }
}

bool is_success(int32_t status) { return status >= 200 && status < 300; }

class SteadyPaceClock : public PaceClock {
 public:
  int64_t now() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void wait_until(int64_t time) override {
    const int64_t left = time - now();
    if (left > 0) std::this_thread::sleep_for(std::chrono::milliseconds(left));
  }
};

}  // namespace

PaceClock& steady_pace_clock() {
  static SteadyPaceClock clock;
  return clock;
}

AttemptVerdict chapter_attempt_verdict(int32_t status, bool has_text) {
  if (status == 0 || is_transient_status(status)) return AttemptVerdict::transient;
  if (is_success(status) && !has_text) return AttemptVerdict::transient;
  return AttemptVerdict::done;
}

AttemptVerdict contents_attempt_verdict(int32_t status) {
  if (status == 0 || status == 408 || status == 429 || (status >= 500 && status < 600))
    return AttemptVerdict::transient;
  return AttemptVerdict::done;
}

int64_t retry_delay_milliseconds(const RetryDelays& delays, int32_t retry, int32_t retry_after_seconds,
                                 double random01) {
  if (retry_after_seconds >= 0) return int64_t(std::min(retry_after_seconds, longest_retry_after_seconds)) * 1000;
  const int32_t base = delays.base_milliseconds[std::clamp(retry, 1, most_retries) - 1];
  const double factor = 0.8 + 0.4 * std::clamp(random01, 0.0, 1.0);
  return static_cast<int64_t>(base * factor);
}

AnswerSigns signs_of(int32_t status, bool has_text, int32_t retry_after_seconds) {
  AnswerSigns signs;
  signs.throttled = status == 429 || status == 503;
  signs.retry_after_seconds = retry_after_seconds;
  signs.good = status != 0 && has_text;
  signs.empty = status == 200 && !has_text;
  return signs;
}

// ---- The gate -------------------------------------------------------------------

bool PaceGate::try_enter(int64_t now, Ticket& ticket) {
  const std::lock_guard guard(lock_);
  if (now < hold_until_) return false;
  if (limited_) {
    if (static_cast<double>(now) < next_slot_) return false;
    // A start a little late keeps the even spacing; one much later starts it anew.
    const double spacing = 1000.0 / rate_;
    next_slot_ = (now - next_slot_ <= spacing / 2 ? next_slot_ : static_cast<double>(now)) + spacing;
  }
  if (first_start_ < 0) first_start_ = now;
  starts_.push_back(now);
  while (starts_.front() <= now - measured_span) starts_.pop_front();
  ticket.started_at = now;
  return true;
}

int64_t PaceGate::next_start(int64_t now) {
  const std::lock_guard guard(lock_);
  int64_t start = std::max(now, hold_until_);
  if (limited_) start = std::max(start, static_cast<int64_t>(std::ceil(next_slot_)));
  return start;
}

double PaceGate::rate() {
  const std::lock_guard guard(lock_);
  return limited_ ? rate_ : 0;
}

int32_t PaceGate::refusals() {
  const std::lock_guard guard(lock_);
  return refusals_;
}

// Requests a second that started in the measured span up to now, or since the
// first request when that is shorter.
double PaceGate::measured_rate(int64_t now) {
  while (!starts_.empty() && starts_.front() <= now - measured_span) starts_.pop_front();
  if (starts_.empty()) return 0;
  const int64_t span = std::clamp<int64_t>(now - first_start_, 1, measured_span);
  return static_cast<double>(starts_.size()) * 1000.0 / static_cast<double>(span);
}

// The lowest bound of the refusals of the last measured span.
double PaceGate::bound(int64_t now) {
  while (!bounds_.empty() && bounds_.front().until <= now) bounds_.pop_front();
  double lowest = highest_rate;
  for (const Bound& b : bounds_) lowest = std::min(lowest, b.rate);
  return lowest;
}

void PaceGate::refuse(int64_t now, const Ticket& ticket, int64_t asked_wait) {
  ++refusals_;
  const double measured = measured_rate(now);
  // A request that started before the last refusal belongs to the same burst.
  const bool fresh = ticket.started_at > last_refusal_;
  if (fresh) {
    ++refusals_in_a_row_;
    last_refusal_ = now;
  }
  int64_t wait = asked_wait;
  if (wait < 0) wait = std::min(longest_own_wait, first_wait << std::clamp(refusals_in_a_row_ - 1, 0, 4));
  hold_until_ = std::max(hold_until_, now + wait);

  bounds_.push_back({now + measured_span, std::max(lowest_rate, bound_after_refusal * measured)});
  // Only the first refusal after a good page says the requests came too fast.
  if (fresh && refusals_in_a_row_ == 1) rate_ = rate_after_refusal * (limited_ ? std::min(measured, rate_) : measured);
  limited_ = true;
  rate_ = std::clamp(rate_, lowest_rate, std::max(lowest_rate, bound(now)));
  // At least one spacing passes before the next start, however short the wait.
  next_slot_ = std::max(next_slot_, static_cast<double>(now) + 1000.0 / rate_);
  last_growth_ = std::max(last_growth_, hold_until_);
}

void PaceGate::leave_at(int64_t now, const Ticket& ticket, const AnswerSigns& signs) {
  const std::lock_guard guard(lock_);
  if (signs.good) {
    empty_pages_ = 0;
    refusals_in_a_row_ = 0;
    if (limited_ && now > last_growth_) {
      const double seconds = static_cast<double>(std::min<int64_t>(now - last_growth_, 1000)) / 1000.0;
      rate_ = std::min(rate_ * (1 + growth_per_second * seconds), bound(now));
      last_growth_ = now;
    }
  } else if (!signs.empty) {
    empty_pages_ = 0;
  } else if (ticket.started_at > last_refusal_ && ++empty_pages_ >= empty_pages_in_a_row) {
    empty_pages_ = 0;
    refuse(now, ticket, -1);
  }
  if (signs.retry_after_seconds >= 0) {
    refuse(now, ticket, int64_t(signs.retry_after_seconds) * 1000);
  } else if (signs.throttled) {
    refuse(now, ticket, -1);
  }
}

PaceGate::Ticket PaceGate::enter(PaceClock& clock) {
  Ticket ticket;
  for (;;) {
    const int64_t now = clock.now();
    if (try_enter(now, ticket)) return ticket;
    clock.wait_until(next_start(now));
  }
}

void PaceGate::leave(PaceClock& clock, const Ticket& ticket, const AnswerSigns& signs) {
  leave_at(clock.now(), ticket, signs);
}
