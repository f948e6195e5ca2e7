#include "platform/fetch_limits.h"

#include <atomic>

namespace platform {

namespace {

constexpr FetchLimits default_limits = {15000, 30000, 120000};

// Requests on any thread read the limits while a test may be setting them.
std::atomic<int32_t> g_connect_milliseconds{default_limits.connect_milliseconds};
std::atomic<int32_t> g_silence_milliseconds{default_limits.silence_milliseconds};
std::atomic<int32_t> g_total_milliseconds{default_limits.total_milliseconds};

}  // namespace

FetchLimits default_fetch_limits() { return default_limits; }

FetchLimits fetch_limits() {
  return {g_connect_milliseconds.load(), g_silence_milliseconds.load(), g_total_milliseconds.load()};
}

void set_fetch_limits(const FetchLimits& limits) {
  g_connect_milliseconds = limits.connect_milliseconds;
  g_silence_milliseconds = limits.silence_milliseconds;
  g_total_milliseconds = limits.total_milliseconds;
}

}  // namespace platform
