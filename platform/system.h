// The operating-system services under the runtime library: the heap, the
// program image, the end of the process, COM set-up per thread, loading
// libraries, starting threads, waiting and the message queue.
//
// The runtime's portable code (runtime/) reaches the operating system only
// through this header and platform/os.h. Calls that the runtime makes with the
// stack check of os_call (the timer and the wait of timed_wait) and those the
// binder makes keep the shape, values and calling convention (PLATFORM_API) of
// the Win32 calls named in their comments, under the project's own names, so
// the same code runs on both systems; the rest are small functions with plain
// C++ contracts. Texts are code page 936.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/os.h"

namespace platform {

// ---- Heap ----

// The process heap: blocks that any thread may allocate and free. These calls
// take only blocks of this heap; the runtime (runtime/memory.h) keeps track of
// which values are such blocks.

// A new block, or null when there is no room; zero_filled clears every byte.
void* heap_allocate(size_t size, bool zero_filled);
// The block resized in place or moved (contents kept), or null when there is no
// room; the block stays valid then.
void* heap_reallocate(void* block, size_t size);
void heap_free(void* block);

// The running program's own image: its first byte and the end of its image
// (base plus image size on Windows, the end of the executable's data on Linux).
struct ImageRange {
  uintptr_t first;
  uintptr_t last;
};
ImageRange program_image_range();

// Ends the process with code at once: stdio is flushed, no destructors or exit
// handlers run, other threads are not waited for.
[[noreturn]] void exit_process(int32_t code);

// ---- COM ---------------------------------------------------------------------

// Initialises COM for the calling thread (apartment threaded); results are not
// looked at. Every thread that creates automation objects calls it first.
void com_initialize();
void com_uninitialize();

// ---- Libraries ---------------------------------------------------------------

// LoadLibraryA: the module of library loaded by the call (to be freed with
// free_library), or null.
Handle PLATFORM_API load_library(const char* library);
// GetProcAddress: the address of an exported function; name is a NUL-terminated
// name, or an ordinal (a value below 0x10000) standing in the pointer. Null when
// not found.
void* PLATFORM_API get_proc_address(Handle module, const char* name);
// FreeLibrary.
Bool PLATFORM_API free_library(Handle module);

// ---- Program file and command line ----------------------------------------

// GetModuleFileNameA: copies the full path of the running program (module must
// be null) and a terminator into buffer; returns the length without the
// terminator, 0 on failure, size when the path was cut to fit.
uint32_t PLATFORM_API get_module_file_name(Handle module, char* buffer, uint32_t size);
// GetCommandLineA: the process command line: the program name (quoted when it
// holds a blank), then the arguments separated by blanks. Lives as long as the
// process.
const char* PLATFORM_API get_command_line();

// ---- Threads -----------------------------------------------------------------

// A subroutine run on a thread of its own: one 32-bit parameter, and the
// thread's exit code as result.
using ThreadRoutine = int32_t(PLATFORM_API*)(int32_t parameter);
// Starts routine(parameter) on a new thread that runs at once. Returns an open
// handle of the thread (close it with close_handle; the thread runs on) or null
// when no thread could be made. Linux handles are small non-zero numbers that
// fit in 32 bits, as Windows handles do.
Handle start_thread(ThreadRoutine routine, int32_t parameter);

// ---- Timer, wait and message queue ----------------------------------------

// What a wait returns (WAIT_OBJECT_0, WAIT_TIMEOUT, WAIT_FAILED), the time of
// a wait without limit (INFINITE), and the wake mask of every kind of input
// but raw input (QS_KEY, QS_MOUSEMOVE, QS_MOUSEBUTTON, QS_POSTMESSAGE, QS_TIMER,
// QS_PAINT, QS_SENDMESSAGE and QS_HOTKEY: QS_ALLINPUT as it was before raw input).
constexpr uint32_t wait_object_0 = 0;
constexpr uint32_t wait_timeout = 258;
constexpr uint32_t wait_failed = 0xFFFFFFFF;
constexpr uint32_t wait_infinite = 0xFFFFFFFF;
constexpr uint32_t all_input_without_raw_input = 0xFF;

// CreateWaitableTimerA: a waitable timer that resets itself when a wait sees it
// fire; null on failure.
Handle PLATFORM_API create_waitable_timer(void* security, Bool manual_reset, const char* name);
// SetWaitableTimer. due: negative is a time relative to now, otherwise an
// absolute time (both in 100-nanosecond units; absolute times count from
// 1601-01-01 UTC).
Bool PLATFORM_API set_waitable_timer(Handle timer, const int64_t* due, int32_t period, void* completion, void* argument,
                                     Bool resume);
// MsgWaitForMultipleObjects: waits until one of the count handles fires
// (wait_object_0 + its index), input arrives for the calling thread
// (wait_object_0 + count), milliseconds pass (wait_timeout), or the wait is
// impossible (wait_failed). On Linux the input is any event of the default GLib
// main context, which the wait polls but does not dispatch; only timers can be
// waited for there.
uint32_t PLATFORM_API message_wait_for_multiple_objects(uint32_t count, const Handle* handles, Bool wait_all,
                                                        uint32_t milliseconds, uint32_t wake_mask);
// GetTickCount64: milliseconds since an arbitrary moment; never goes backwards.
uint64_t PLATFORM_API get_tick_count64();

// Wakes a wait for messages on another thread: the thread that called
// message_waker_of_this_thread gets an empty message (Linux: an idle event of
// the default main context), so message_wait_for_multiple_objects returns there
// and the waiting code can look again at what it waits for. Any thread may wake;
// a waker whose thread has no message queue wakes nothing.
uintptr_t message_waker_of_this_thread();
void wake_message_wait(uintptr_t waker);

// Dispatches every message (Linux: every event of the default main context)
// that is ready for the calling thread, until none is left; on Windows a
// message_quit at the head of the queue stops it and stays in the queue.
void dispatch_pending_messages();

}  // namespace platform
