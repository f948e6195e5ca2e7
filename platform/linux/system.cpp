// The runtime's operating-system services on Linux: the C heap, the executable's image,
// libraries (built-in modules first, then dlopen), threads, waitable timers and
// the wait on the default GLib main context, where the GTK dialog lives.
#include <dlfcn.h>
#include <glib.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/builtin_modules.h"
#include "platform/linux/handles.h"
#include "platform/system.h"

// The executable's first byte and the end of its data, from the linker.
extern "C" char __executable_start;
extern "C" char _end;

namespace platform {

namespace {

// Larger requests fail here rather than in an allocator that may stop the
// process instead of answering null (the sanitizers' allocator does).
constexpr size_t largest_block = size_t(PTRDIFF_MAX);

// ---- Threads ----

struct ThreadObject : HandleObject {};

struct ThreadStart {
  ThreadRoutine routine;
  int32_t parameter;
};

void* run_thread(void* start) {
  ThreadStart copy = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  copy.routine(copy.parameter);
  return nullptr;
}

// ---- Timers and the wait ----

using Clock = std::chrono::steady_clock;

// A timer is due at a point of the steady clock, or never.
struct TimerObject : HandleObject {
  std::mutex lock;
  bool armed = false;
  Clock::time_point due{};
};

// 100-nanosecond units from 1601-01-01 to 1970-01-01.
constexpr int64_t unix_epoch_in_file_time = 116444736000000000;

// The steady clock counts nanoseconds in 64 bits, so a timer is held to 200
// years from now.
constexpr int64_t longest_timer = int64_t(200) * 365 * 24 * 3600 * 10000000;

Clock::time_point steady_point_of(int64_t due) {
  using Units = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
  Clock::time_point now = Clock::now();
  if (due < 0) {
    int64_t units = due < -longest_timer ? longest_timer : -due;
    return now + std::chrono::duration_cast<Clock::duration>(Units(units));
  }
  auto system_now = std::chrono::duration_cast<Units>(std::chrono::system_clock::now().time_since_epoch()).count();
  int64_t from_now = due - unix_epoch_in_file_time - system_now;
  if (from_now <= 0) return now;
  if (from_now > longest_timer) from_now = longest_timer;
  return now + std::chrono::duration_cast<Clock::duration>(Units(from_now));
}

// True when an event of the default main context is ready, after waiting until
// it is or until the deadline. The context is polled, not dispatched. When
// another thread is running the context, this thread only sleeps.
bool wait_for_main_context(Clock::time_point deadline) {
  GMainContext* context = g_main_context_default();
  if (!g_main_context_acquire(context)) {
    std::this_thread::sleep_until(std::min(deadline, Clock::now() + std::chrono::hours(1)));
    return false;
  }
  std::vector<GPollFD> fds(8);
  bool ready = false;
  for (;;) {
    gint priority = 0;
    gboolean ready_at_once = g_main_context_prepare(context, &priority);
    gint timeout = -1;
    gint count;
    while ((count = g_main_context_query(context, priority, &timeout, fds.data(), gint(fds.size()))) > gint(fds.size()))
      fds.resize(size_t(count));
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) left = 0;
    if (ready_at_once)
      timeout = 0;
    else if (timeout < 0 || timeout > left)
      timeout = left > G_MAXINT ? G_MAXINT : gint(left);
    g_main_context_get_poll_func(context)(fds.data(), guint(count), timeout);
    ready = g_main_context_check(context, priority, fds.data(), count);
    // A wake-up of the context alone (a source added from another thread) is
    // no event yet: prepare and poll again.
    if (ready || Clock::now() >= deadline) break;
  }
  g_main_context_release(context);
  return ready;
}

}  // namespace

// ---- Heap ----

void* heap_allocate(size_t size, bool zero_filled) {
  if (size > largest_block) return nullptr;
  // A block of size 0 is still a block of its own, as on Windows.
  size_t bytes = size ? size : 1;
  return zero_filled ? std::calloc(1, bytes) : std::malloc(bytes);
}

void* heap_reallocate(void* block, size_t size) {
  if (size > largest_block) return nullptr;
  return std::realloc(block, size ? size : 1);
}

void heap_free(void* block) { std::free(block); }

ImageRange program_image_range() {
  return {reinterpret_cast<uintptr_t>(&__executable_start), reinterpret_cast<uintptr_t>(&_end)};
}

void exit_process(int32_t code) {
  std::fflush(nullptr);
  _exit(code);
}

// ---- Handles and libraries ----

Handle PLATFORM_API get_module_handle(const char* name) {
  if (!name) {
    static void* program = dlopen(nullptr, RTLD_NOW);
    return program;
  }
  if (Handle builtin = find_builtin_module(name)) return builtin;
  // A library already in the process; the probe's own reference is dropped
  // again, as GetModuleHandleA takes none.
  for (const std::string& file : {std::string(name), "lib" + std::string(name) + ".so"}) {
    if (void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
      dlclose(library);
      return library;
    }
  }
  return nullptr;
}

Bool PLATFORM_API close_handle(Handle handle) { return remove_handle(handle) ? 1 : 0; }

Handle PLATFORM_API load_library(const char* library) {
  if (!library) return nullptr;
  if (Handle builtin = find_builtin_module(library)) return builtin;
  if (void* loaded = dlopen(library, RTLD_NOW)) return loaded;
  return dlopen(("lib" + std::string(library) + ".so").c_str(), RTLD_NOW);
}

void* PLATFORM_API get_proc_address(Handle module, const char* name) {
  if (!module) return nullptr;
  if (is_builtin_module(module)) return find_builtin_function(module, name);
  if (reinterpret_cast<uintptr_t>(name) < 0x10000) return nullptr;  // no ordinals in shared objects
  return dlsym(module, name);
}

Bool PLATFORM_API free_library(Handle module) {
  if (!module) return 0;
  if (is_builtin_module(module)) return 1;
  return dlclose(module) == 0 ? 1 : 0;
}

// ---- Program file and command line ----

uint32_t PLATFORM_API get_module_file_name(Handle module, char* buffer, uint32_t size) {
  if (module || size == 0) return 0;
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || size_t(length) >= sizeof path) return 0;
  if (uint32_t(length) >= size) {
    std::memcpy(buffer, path, size - 1);
    buffer[size - 1] = 0;
    return size;
  }
  std::memcpy(buffer, path, size_t(length));
  buffer[length] = 0;
  return uint32_t(length);
}

const char* PLATFORM_API get_command_line() {
  static const std::string line = [] {
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::string joined;
    size_t start = 0;
    while (start < all.size()) {
      size_t end = all.find('\0', start);
      if (end == std::string::npos) end = all.size();
      std::string argument = all.substr(start, end - start);
      if (!joined.empty()) joined += ' ';
      bool quote = argument.empty() || argument.find(' ') != std::string::npos;
      joined += quote ? '"' + argument + '"' : argument;
      start = end + 1;
    }
    return joined;
  }();
  return line.c_str();
}

// ---- Threads ----

Handle start_thread(ThreadRoutine routine, int32_t parameter) {
  Handle handle = add_handle(std::make_shared<ThreadObject>());
  if (!handle) return nullptr;
  auto* start = new (std::nothrow) ThreadStart{routine, parameter};
  pthread_attr_t attributes;
  pthread_t thread;
  bool started = false;
  if (start && pthread_attr_init(&attributes) == 0) {
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    started = pthread_create(&thread, &attributes, run_thread, start) == 0;
    pthread_attr_destroy(&attributes);
  }
  if (started) return handle;
  delete start;
  remove_handle(handle);
  return nullptr;
}

// ---- Timers, wait, messages ----

Handle PLATFORM_API create_waitable_timer(void*, Bool, const char*) {
  return add_handle(std::make_shared<TimerObject>());
}

Bool PLATFORM_API set_waitable_timer(Handle timer, const int64_t* due, int32_t, void*, void*, Bool) {
  auto object = std::dynamic_pointer_cast<TimerObject>(find_handle(timer));
  if (!object || !due) return 0;
  std::lock_guard<std::mutex> hold(object->lock);
  object->due = steady_point_of(*due);
  object->armed = true;
  return 1;
}

uint32_t PLATFORM_API message_wait_for_multiple_objects(uint32_t count, const Handle* handles, Bool wait_all,
                                                        uint32_t milliseconds, uint32_t) {
  if (wait_all || (count && !handles)) return wait_failed;
  std::vector<std::shared_ptr<TimerObject>> timers;
  for (uint32_t i = 0; i < count; ++i) {
    auto timer = std::dynamic_pointer_cast<TimerObject>(find_handle(handles[i]));
    if (!timer) return wait_failed;
    timers.push_back(std::move(timer));
  }
  const Clock::time_point start = Clock::now();
  const Clock::time_point limit =
      milliseconds == wait_infinite ? Clock::time_point::max() : start + std::chrono::milliseconds(milliseconds);
  for (;;) {
    Clock::time_point until = limit;
    for (uint32_t i = 0; i < count; ++i) {
      std::lock_guard<std::mutex> hold(timers[i]->lock);
      if (!timers[i]->armed) continue;
      if (timers[i]->due <= Clock::now()) {
        timers[i]->armed = false;  // resets itself, as a timer that is not manual-reset does
        return wait_object_0 + i;
      }
      if (timers[i]->due < until) until = timers[i]->due;
    }
    if (wait_for_main_context(until)) return wait_object_0 + count;
    if (Clock::now() >= limit) return wait_timeout;
  }
}

uint64_t PLATFORM_API get_tick_count64() {
  return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}

// Every wait for messages on Linux waits on the default main context, so the
// waker names no thread.
uintptr_t message_waker_of_this_thread() { return 0; }

void wake_message_wait(uintptr_t /*waker*/) {
  GSource* idle = g_idle_source_new();
  g_source_set_callback(
      idle, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
  g_source_attach(idle, g_main_context_default());
  g_source_unref(idle);
}

void dispatch_pending_messages() {
  GMainContext* context = g_main_context_default();
  while (g_main_context_iteration(context, FALSE)) {
  }
}

}  // namespace platform
