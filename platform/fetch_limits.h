// The time limits of one page fetch, which every HTTP request of the program
// works under: a fetch fails when it cannot connect within the connect limit,
// receives no byte for the silence limit, or is not complete within the total
// limit, so no caller ever waits longer than the total for one page.
//
// The page fetch (web/fetch_page) enforces them on the Windows HTTP classes,
// through their own time-outs where a class has them and its own waiting loop
// otherwise; the Linux HTTP class (platform/linux/http_request) hands them to
// libcurl. Both read them when a request starts. Only tests change them, to
// make the slow cases quick; the program always runs with the defaults.
#pragma once

#include <cstdint>

namespace platform {

struct FetchLimits {
  int32_t connect_milliseconds;  // a connection not made by then fails
  int32_t silence_milliseconds;  // no byte of the answer for this long fails
  int32_t total_milliseconds;    // a page not complete by then fails
};

// Connect 15 s, silence 30 s, total 120 s.
FetchLimits default_fetch_limits();
FetchLimits fetch_limits();
// For tests: the limits of the requests that start from now on.
void set_fetch_limits(const FetchLimits& limits);

}  // namespace platform
