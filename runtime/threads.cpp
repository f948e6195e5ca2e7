#include "runtime/threads.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

#include "runtime/binding.h"

namespace thread_module {
namespace {
std::atomic<intptr_t> g_service_entry{0};
}  // namespace

int32_t module_notify(int32_t code, intptr_t value, intptr_t reserved) {
  (void)reserved;
  switch (code) {
    case 1: g_service_entry.store(value); return 0;
    case 6: return 0;
    default: return -1;
  }
}

intptr_t service_entry() { return g_service_entry.load(); }
}  // namespace thread_module

namespace {

// The routine code of timed_wait, and the statement offsets of its system calls.
constexpr int32_t timed_wait_routine = 0x040101DF;
constexpr Location at_read_clock{timed_wait_routine, 3};
constexpr Location at_create_timer{timed_wait_routine, 4};
constexpr Location at_set_timer{timed_wait_routine, 5};
constexpr Location at_wait{timed_wait_routine, 6};
constexpr Location at_wait_by_clock{timed_wait_routine, 7};
constexpr Location at_close_timer{timed_wait_routine, 8};

ApiSlot<platform::Bool(PLATFORM_API*)(platform::Handle)> g_close_handle{"kernel32", "CloseHandle"};

int32_t milliseconds_per_unit(int32_t unit) {
  switch (unit) {
    case 0: return 1;
    case 1: return 1000;
    case 2: return 60000;
    case 3: return 3600000;
    default: return unit;
  }
}

// Whole milliseconds until a relative due time, rounded up so that a wait by
// the clock never ends early; 0 for a due time that lies in the past.
uint64_t milliseconds_until(int64_t due) {
  if (due >= 0) return 0;
  uint64_t units = due == std::numeric_limits<int64_t>::min() ? uint64_t(1) << 63 : uint64_t(-due);
  return (units + 9999) / 10000;
}

}  // namespace

int64_t timed_wait_due_time(int32_t amount, int32_t unit) {
  double due = double(amount) * double(milliseconds_per_unit(unit)) * -10000.0;
  // 2^63 is exact in a double; anything at or beyond it does not fit.
  constexpr double limit = 9223372036854775808.0;
  if (due >= limit) return std::numeric_limits<int64_t>::max();
  if (due <= -limit) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(std::trunc(due));
}

void launch_thread(ArgCell* result, int32_t count, const ArgCell* cells) {
  auto present = [&](int32_t index) { return count > index && cells[index].given(); };
  auto routine =
      present(0) ? reinterpret_cast<platform::ThreadRoutine>(static_cast<uintptr_t>(cells[0].value)) : nullptr;
  int32_t parameter = present(1) ? cells[1].low() : 0;
  platform::Handle handle = routine ? platform::start_thread(routine, parameter) : nullptr;
  result->value = handle ? 1 : 0;
  auto* handle_variable = present(2) ? cells[2].address<int32_t>() : nullptr;
  if (handle_variable) {
    *handle_variable = static_cast<int32_t>(reinterpret_cast<uintptr_t>(handle));
  } else if (handle) {
    platform::close_handle(handle);
  }
}

bool timed_wait(int32_t amount, int32_t unit) {
  const int64_t due = timed_wait_due_time(amount, unit);
  // The clock bounds the wait when the timer cannot be had or a wait on it fails.
  const uint64_t deadline = os_call(at_read_clock, platform::get_tick_count64) + milliseconds_until(due);

  platform::Handle timer = os_call(at_create_timer, platform::create_waitable_timer, static_cast<void*>(nullptr),
                                   platform::Bool(0), static_cast<const char*>(nullptr));
  bool armed = timer && os_call(at_set_timer, platform::set_waitable_timer, timer, &due, int32_t(0),
                                static_cast<void*>(nullptr), static_cast<void*>(nullptr), platform::Bool(0));
  for (;;) {
    if (armed) {
      uint32_t woken = os_call(at_wait, platform::message_wait_for_multiple_objects, uint32_t(1),
                               static_cast<const platform::Handle*>(&timer), platform::Bool(0), platform::wait_infinite,
                               platform::all_input_without_raw_input);
      if (woken == platform::wait_object_0) break;
      if (woken == platform::wait_object_0 + 1) {
        process_pending_messages();
        continue;
      }
      armed = false;
    }
    uint64_t now = os_call(at_read_clock, platform::get_tick_count64);
    if (now >= deadline) break;
    uint64_t left = deadline - now;
    auto timeout = static_cast<uint32_t>(left < platform::wait_infinite ? left : platform::wait_infinite - 1);
    uint32_t woken = os_call(at_wait_by_clock, platform::message_wait_for_multiple_objects, uint32_t(0),
                             static_cast<const platform::Handle*>(nullptr), platform::Bool(0), timeout,
                             platform::all_input_without_raw_input);
    if (woken == platform::wait_object_0)
      process_pending_messages();
    else if (woken != platform::wait_timeout)
      std::this_thread::sleep_for(std::chrono::milliseconds(timeout));
  }
  if (timer) os_call(at_close_timer, g_close_handle.get(), timer);
  return true;
}

void process_pending_messages() { platform::dispatch_pending_messages(); }

uintptr_t this_thread_waker() { return platform::message_waker_of_this_thread(); }

void wake_waiting_thread(uintptr_t waker) { platform::wake_message_wait(waker); }

void wait_for_messages(uint32_t milliseconds) {
  const uint32_t woken = platform::message_wait_for_multiple_objects(0, nullptr, platform::Bool(0), milliseconds,
                                                                     platform::all_input_without_raw_input);
  if (woken == platform::wait_object_0) {
    process_pending_messages();
  } else if (woken == platform::wait_failed) {
    // Without a way to wait for messages the time still has to pass.
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    process_pending_messages();
  }
}
