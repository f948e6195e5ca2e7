// COM set-up per thread on Linux. There is no COM, but the automation layer
// keeps its rules: objects are made only on threads that called com_initialize,
// and the HTTP classes' libcurl is started by the first com_initialize of the
// process and ended by the last com_uninitialize of the thread that started it
// (the main thread, in the shutdown), never per request.
#include <atomic>
#include <thread>

#include "platform/linux/automation_layer.h"
#include "platform/linux/http_request.h"
#include "platform/system.h"

namespace platform {

namespace {

thread_local int32_t t_initialize_count = 0;
std::atomic<std::thread::id> g_starting_thread{};

}  // namespace

bool com_initialized_on_this_thread() { return t_initialize_count > 0; }

void com_initialize() {
  if (t_initialize_count++ == 0 && http_start()) g_starting_thread = std::this_thread::get_id();
}

void com_uninitialize() {
  if (t_initialize_count == 0) return;
  if (--t_initialize_count == 0 && g_starting_thread.load() == std::this_thread::get_id()) {
    g_starting_thread = std::thread::id();
    http_end();
  }
}

}  // namespace platform
