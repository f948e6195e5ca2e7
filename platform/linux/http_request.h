// The libcurl side of the Linux HTTP request classes: the process-wide start
// and end of libcurl, and the limits every request works under besides the
// time limits of platform/fetch_limits.h.
//
// libcurl is started by the first platform::com_initialize and ended by the last
// platform::com_uninitialize of the thread that started it (the main thread, at the
// shutdown). Requests reuse idle transfer handles, and with them their open
// connections, so consecutive fetches of one site need not connect again.
#pragma once

#include <cstdint>

namespace platform {

struct HttpLimits {
  int32_t maximum_redirects;   // more redirects than this fail
  int64_t maximum_body_bytes;  // a longer body (after decoding) fails
};

// The limits of the requests that start from now on. Tests change them through
// set_http_limits.
HttpLimits http_limits();
void set_http_limits(const HttpLimits& limits);
// What every request uses unless a test says otherwise.
HttpLimits default_http_limits();

// Starts libcurl for the process; false when it was started already.
bool http_start();
// Ends it: idle handles are closed at once, libcurl itself once no request runs.
void http_end();

}  // namespace platform
