#include "novel/site_pace.h"

#include <algorithm>
#include <chrono>

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

}  // namespace

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

AnswerSigns signs_of(int32_t status, bool has_text, int32_t retry_after_seconds, int64_t fallback_wait) {
  AnswerSigns signs;
  signs.throttled = status == 429 || status == 503;
  signs.retry_after_seconds = retry_after_seconds;
  signs.good = status != 0 && has_text;
  signs.empty = status == 200 && !has_text;
  signs.fallback_wait = fallback_wait;
  return signs;
}

int64_t PaceGate::now() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t PaceGate::hold_left(int64_t now) {
  const std::lock_guard guard(lock_);
  return std::max<int64_t>(0, hold_until_ - now);
}

bool PaceGate::try_enter(int64_t now, Ticket& ticket) {
  const std::lock_guard guard(lock_);
  if (now < hold_until_ || in_flight_ >= limit_) return false;
  ++in_flight_;
  ticket.started_at = now;
  return true;
}

int32_t PaceGate::in_flight_limit() {
  const std::lock_guard guard(lock_);
  return limit_;
}

int32_t PaceGate::in_flight() {
  const std::lock_guard guard(lock_);
  return in_flight_;
}

void PaceGate::hold_for(int64_t now, int64_t wait, const Ticket& ticket) {
  hold_until_ = std::max(hold_until_, now + wait);
  // Answers to requests that were already under way when the number was last
  // halved belong to the same burst: they do not halve it again.
  if (ticket.started_at < last_halving_) return;
  limit_ = std::max(1, limit_ / 2);
  last_halving_ = now;
  good_pages_ = 0;
}

void PaceGate::leave_at(int64_t now, const Ticket& ticket, const AnswerSigns& signs) {
  {
    const std::lock_guard guard(lock_);
    if (in_flight_ > 0) --in_flight_;
    if (signs.good) {
      empty_pages_ = 0;
      if (++good_pages_ >= good_pages_per_step) {
        good_pages_ = 0;
        limit_ = std::min(most_in_flight, limit_ + 1);
      }
    }
    if (signs.empty && ++empty_pages_ >= empty_pages_in_a_row) {
      empty_pages_ = 0;
      hold_for(now, empty_pages_wait, ticket);
    }
    if (signs.retry_after_seconds >= 0) {
      hold_for(now, int64_t(signs.retry_after_seconds) * 1000, ticket);
    } else if (signs.throttled) {
      hold_for(now, signs.fallback_wait, ticket);
    }
  }
  changed_.notify_all();
}

PaceGate::Ticket PaceGate::enter() {
  std::unique_lock guard(lock_);
  for (;;) {
    const int64_t time = now();
    if (time < hold_until_) {
      changed_.wait_for(guard, std::chrono::milliseconds(hold_until_ - time));
    } else if (in_flight_ < limit_) {
      ++in_flight_;
      return Ticket{time};
    } else {
      changed_.wait(guard);
    }
  }
}

void PaceGate::leave(const Ticket& ticket, const AnswerSigns& signs) { leave_at(now(), ticket, signs); }
