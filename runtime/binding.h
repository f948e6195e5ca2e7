// Dynamic binding of operating-system functions, and the stack check after every
// operating-system call that the program's own routines make.
//
// An ApiSlot names a (library, function) pair and binds on its first call through
// bind_api: the library is found (or loaded, and then freed at shutdown) and the
// function looked up ("#5" means ordinal 5; a name with "@@" is looked up up to
// the pair); every later call goes straight to the function. A library or
// function that cannot be found ends the process with a "DLL ERROR" box.
// On Linux the binder first consults the built-in modules that the platform
// layer provides under the Windows library names ("user32", "kernel32").
//
// os_call(location, function, args...) calls an operating-system function and,
// on i686, compares the stack position before and after the call: a function
// declared with the wrong argument list leaves it unbalanced, which raises
// runtime error 6 with the caller's location pair. On x86-64 the calling
// convention cannot unbalance the stack, and the check costs nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "platform/os.h"
#include "runtime/memory.h"
#include "runtime/values.h"

// Returns the function's address (also stored in *slot); ends the process when
// the library or the function cannot be found.
void* bind_api(const char* library, const char* function, std::atomic<void*>* slot);
void free_loaded_libraries();

// The library calls the binder makes (platform::get_module_handle, load_library,
// get_proc_address and free_library); tests put their own in place.
struct LibraryCalls {
  platform::Handle(PLATFORM_API* module_handle)(const char* library);
  platform::Handle(PLATFORM_API* load_library)(const char* library);
  void*(PLATFORM_API* find_function)(platform::Handle module, const char* name_or_ordinal);
  platform::Bool(PLATFORM_API* free_library)(platform::Handle module);
};
extern LibraryCalls g_library_calls;
// The room of the binder's table of libraries it loaded itself.
constexpr int32_t loaded_libraries_room = 100;

template <typename FunctionPointer>
class ApiSlot {
 public:
  constexpr ApiSlot(const char* library, const char* function) : library_(library), function_(function) {}
  FunctionPointer get() {
    void* address = address_.load(std::memory_order_acquire);
    if (!address) address = bind_api(library_, function_, &address_);
    return reinterpret_cast<FunctionPointer>(address);
  }
  bool bound() const { return address_.load(std::memory_order_acquire) != nullptr; }

 private:
  const char* library_;
  const char* function_;
  std::atomic<void*> address_{nullptr};
};

#if defined(__i386__)
// Pushes count 32-bit arguments (args[0] last, so it ends on top), calls function,
// and reports whether the stack pointer came back where it was.
extern "C" uint64_t stack_checked_call(const void* function, const uint32_t* args, int32_t count, int32_t* balanced);
#endif

template <typename Function, typename... Args>
auto os_call(Location at, Function function, Args... args) {
#if defined(__i386__)
  using Result = decltype(function(args...));
  uint32_t packed[sizeof...(Args) ? sizeof...(Args) : 1] = {};
  int32_t index = 0;
  auto pack = [&](auto value) {
    static_assert(sizeof(value) <= 4, "operating-system arguments are 32-bit on i686");
    uint32_t word = 0;
    if constexpr (std::is_pointer_v<decltype(value)>)
      word = reinterpret_cast<uintptr_t>(value);
    else
      word = static_cast<uint32_t>(value);
    packed[index++] = word;
  };
  (pack(args), ...);
  (void)pack;
  int32_t balanced = 1;
  uint64_t result = stack_checked_call(reinterpret_cast<const void*>(function), packed, index, &balanced);
  if (!balanced) raise_runtime_error(6, at);
  if constexpr (std::is_void_v<Result>)
    return;
  else if constexpr (std::is_pointer_v<Result>)
    return reinterpret_cast<Result>(static_cast<uintptr_t>(result));
  else
    return static_cast<Result>(result);
#else
  (void)at;
  return function(args...);
#endif
}
