// Reading the Retry-After header of an HTTP answer.
//
// A server that throttles its clients (429 Too Many Requests, 503 Service
// Unavailable) often says how long to wait, either as a number of seconds or
// as the HTTP date after which to come back. retry_after_seconds reads both
// forms (the date in the current format "Sun, 06 Nov 1994 08:49:37 GMT", and
// in the two obsolete formats HTTP still accepts) and never asks for more than
// longest_retry_after_seconds, so a server cannot stall a download for hours.
// The text is the header's value as received (ASCII); no state, any thread.
#pragma once

#include <cstdint>

inline constexpr int32_t longest_retry_after_seconds = 120;

// Seconds to wait, from 0 (a date in the past, or "0") to
// longest_retry_after_seconds; -1 when the value is empty or neither form.
// now is the current time in seconds since 1970-01-01 UTC.
int32_t retry_after_seconds(const char* value, int64_t now);

// The current time in seconds since 1970-01-01 UTC.
int64_t seconds_since_1970();
