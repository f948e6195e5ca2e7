// The runtime's operating-system services on Windows: the process heap, the
// image range from the module's PE headers, libraries, threads, the waitable
// timer and the message queue.
#include "platform/system.h"

#include <windows.h>

#include <cstdio>
#include <new>

namespace platform {

namespace {

// Fetched on first use by whichever thread comes first; all store the same value.
HANDLE process_heap() {
  static HANDLE heap = GetProcessHeap();
  return heap;
}

struct ThreadStart {
  ThreadRoutine routine;
  int32_t parameter;
};

DWORD WINAPI run_thread(void* start) {
  ThreadStart copy = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  return static_cast<DWORD>(copy.routine(copy.parameter));
}

}  // namespace

void* heap_allocate(size_t size, bool zero_filled) {
  return HeapAlloc(process_heap(), zero_filled ? HEAP_ZERO_MEMORY : 0, size);
}

void* heap_reallocate(void* block, size_t size) { return HeapReAlloc(process_heap(), 0, block, size); }

void heap_free(void* block) { HeapFree(process_heap(), 0, block); }

ImageRange program_image_range() {
  auto base = reinterpret_cast<const unsigned char*>(::GetModuleHandleA(nullptr));
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  auto first = reinterpret_cast<uintptr_t>(base);
  return {first, first + nt->OptionalHeader.SizeOfImage};
}

void exit_process(int32_t code) {
  std::fflush(nullptr);
  ::ExitProcess(static_cast<UINT>(code));
}

Handle PLATFORM_API get_module_handle(const char* name) { return ::GetModuleHandleA(name); }

Bool PLATFORM_API close_handle(Handle handle) { return ::CloseHandle(handle); }

Handle PLATFORM_API load_library(const char* library) { return ::LoadLibraryA(library); }

void* PLATFORM_API get_proc_address(Handle module, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

Bool PLATFORM_API free_library(Handle module) { return ::FreeLibrary(static_cast<HMODULE>(module)); }

uint32_t PLATFORM_API get_module_file_name(Handle module, char* buffer, uint32_t size) {
  return ::GetModuleFileNameA(static_cast<HMODULE>(module), buffer, size);
}

const char* PLATFORM_API get_command_line() { return ::GetCommandLineA(); }

Handle start_thread(ThreadRoutine routine, int32_t parameter) {
  auto* start = new (std::nothrow) ThreadStart{routine, parameter};
  if (!start) return nullptr;
  DWORD id;
  HANDLE thread = CreateThread(nullptr, 0, run_thread, start, 0, &id);
  if (!thread) delete start;
  return thread;
}

Handle PLATFORM_API create_waitable_timer(void* security, Bool manual_reset, const char* name) {
  return ::CreateWaitableTimerA(static_cast<SECURITY_ATTRIBUTES*>(security), manual_reset, name);
}

Bool PLATFORM_API set_waitable_timer(Handle timer, const int64_t* due, int32_t period, void* completion, void* argument,
                                     Bool resume) {
  LARGE_INTEGER when;
  when.QuadPart = *due;
  return ::SetWaitableTimer(timer, &when, period, reinterpret_cast<PTIMERAPCROUTINE>(completion), argument, resume);
}

uint32_t PLATFORM_API message_wait_for_multiple_objects(uint32_t count, const Handle* handles, Bool wait_all,
                                                        uint32_t milliseconds, uint32_t wake_mask) {
  return ::MsgWaitForMultipleObjects(count, handles, wait_all, milliseconds, wake_mask);
}

uint64_t PLATFORM_API get_tick_count64() { return ::GetTickCount64(); }

uintptr_t message_waker_of_this_thread() { return GetCurrentThreadId(); }

void wake_message_wait(uintptr_t waker) { PostThreadMessageA(static_cast<DWORD>(waker), WM_NULL, 0, 0); }

void dispatch_pending_messages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE) && message.message != WM_QUIT) {
    GetMessageA(&message, nullptr, 0, 0);
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace platform
