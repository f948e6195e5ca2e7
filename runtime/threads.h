// The thread module: starting subroutines on threads of their own, the timed
// wait that keeps the calling thread's windows alive, and message pumping.
//
// launch_thread is a support-module command (runtime/support_modules.h) and is
// called through call_module_command. timed_wait and process_pending_messages
// work on the calling thread's message queue (on Linux the default GLib main
// context, where the GTK dialog lives); window procedures run inside them, so
// their caller must expect to be re-entered before they return.
#pragma once

#include <cstdint>

#include "platform/system.h"
#include "runtime/values.h"

namespace thread_module {
// The thread module's notification entry: 0 for start (code 1, which hands over
// the runtime service entry) and shutdown (code 6), -1 for any other code.
int32_t module_notify(int32_t code, intptr_t value, intptr_t reserved);
// The runtime service entry received at start; the module keeps it but has no
// service to ask for.
intptr_t service_entry();
}  // namespace thread_module

// Cells: 1. the subroutine (tag_subroutine); 2. optional: its 32-bit parameter
// (0 when left out); 3. optional: the address of a 32-bit variable that receives
// the open thread handle (otherwise the handle is closed at once, the thread runs
// on). The result cell's value is 1 when the thread was started, else 0.
void launch_thread(ArgCell* result, int32_t count, const ArgCell* cells);

inline ArgCell cell_subroutine(platform::ThreadRoutine routine) {
  return {reinterpret_cast<uintptr_t>(routine), tag_subroutine};
}

// Blocks for amount units while dispatching the thread's messages; unit 0 is
// milliseconds, 1 seconds, 2 minutes, 3 hours, any other value the number of
// milliseconds per unit. Never returns before the time has passed, and ends
// after it even when no timer can be made. Always true.
bool timed_wait(int32_t amount, int32_t unit);

// The due time of timed_wait in 100-nanosecond units, negative (relative to now);
// saturates instead of overflowing.
int64_t timed_wait_due_time(int32_t amount, int32_t unit);

// Dispatches every message already queued for the calling thread (and those that
// arrive meanwhile) and returns once none is left; a quit message (message_quit) at
// the head of the queue stays there.
void process_pending_messages();

// The calling thread's waker: another thread that hands it to
// wake_waiting_thread ends a wait_for_messages of this thread at once.
uintptr_t this_thread_waker();
void wake_waiting_thread(uintptr_t waker);

// Waits until a message arrives for the calling thread or milliseconds have
// passed, whichever comes first, and dispatches what has arrived. It returns
// right after dispatching, so a caller that waits for something a message
// brings (the progress of an asynchronous request) learns of it at once.
void wait_for_messages(uint32_t milliseconds);
