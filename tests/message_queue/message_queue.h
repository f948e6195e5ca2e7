// Test helpers: work queued for the calling thread's message pump, so that tests
// can see it dispatched by timed_wait and process_pending_messages.
#pragma once

#include <cstdint>

using QueuedCallback = void (*)(void* argument);

// Runs callback(argument) from the calling thread's message pump once delay
// milliseconds have passed (0: at the next pass).
void queue_callback(QueuedCallback callback, void* argument, uint32_t delay);

// Puts a quit message in the calling thread's queue; false where the platform's
// message pump has no such message.
bool post_quit_message();
// Takes a quit message from the head of the queue; false when none is there.
bool take_quit_message();
