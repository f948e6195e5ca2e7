// The runtime heap, the fatal runtime error, and the start and end of the runtime.
//
// Every runtime value (Text, ByteSet and Array blocks, automation records) comes
// from runtime_alloc / runtime_alloc_raw / runtime_realloc and goes back through
// runtime_free. The allocators never return null: running out of memory shows the
// "内存不足" box and ends the process through the ordered shutdown. runtime_free
// ignores values below 0x10000, addresses inside the program image (constant
// texts and arrays) and every other value that is not a live block of the
// runtime heap (foreign or unreadable addresses, blocks freed already), so it
// can be handed any value; runtime_realloc of such a value is out of memory.
// All of it is safe to call from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/values.h"

void* runtime_alloc(size_t size);      // zero-filled
void* runtime_alloc_raw(size_t size);  // contents undefined
void* runtime_realloc(void* block, size_t size);
void runtime_free(const void* block);
// Takes a block that another layer made with platform::heap_allocate into the
// runtime heap, as if runtime_alloc had made it: runtime_free frees it from now
// on. Null stays null.
void* runtime_adopt(void* block);

// True when address lies inside the running program's image (both ends included).
bool is_in_program_image(const void* address);

// Shows "program internal error number is ..." and ends the process with exit code 0.
[[noreturn]] void raise_runtime_error(int32_t number, int32_t routine, int32_t statement);
[[noreturn]] inline void raise_runtime_error(int32_t number, Location at) {
  raise_runtime_error(number, at.routine, at.statement);
}
// The message of runtime error number (1 to 11), or "" for any other number.
const char* runtime_error_message(int32_t number);
// The text of the runtime error box, as raise_runtime_error shows it (code page 936).
void format_runtime_error(char (&buffer)[256], int32_t number, int32_t routine, int32_t statement);

void runtime_startup();
// Runs the shutdown hooks once, then ends the process with code. Only the
// thread that called runtime_startup (any thread before that) runs the hooks;
// called on another thread, it ends the process at once, freeing and closing
// nothing that the other threads may still use.
[[noreturn]] void runtime_exit(int32_t code);
void runtime_shutdown();

// The three shutdown hooks, run by runtime_shutdown in this order:
// g_program_cleanup, g_files_cleanup, (support modules), g_libraries_cleanup.
using ShutdownHook = void (*)();
extern ShutdownHook g_program_cleanup;
extern ShutdownHook g_files_cleanup;
extern ShutdownHook g_libraries_cleanup;
