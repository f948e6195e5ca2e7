#include "runtime/binding.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/system.h"

LibraryCalls g_library_calls = {platform::get_module_handle, platform::load_library, platform::get_proc_address,
                                platform::free_library};

namespace {

constexpr const char* binding_error_caption = "DLL ERROR";
// "同目录下无法找到DLL文件:\"%s\".请与作者联系."
constexpr const char* library_missing_format =
    "\xcd\xac\xc4\xbf\xc2\xbc\xcf\xc2\xce\xde\xb7\xa8\xd5\xd2\xb5\xbd"
    "DLL\xce\xc4\xbc\xfe:\"%s\".\xc7\xeb\xd3\xeb\xd7\xf7\xd5\xdf\xc1\xaa\xcf\xb5.";
// "无法定位DLL文件:\"%s\"当中的\"%s\"函数."
constexpr const char* function_missing_format =
    "\xce\xde\xb7\xa8\xb6\xa8\xce\xbb"
    "DLL\xce\xc4\xbc\xfe:\"%s\"\xb5\xb1\xd6\xd0\xb5\xc4\"%s\"\xba\xaf\xca\xfd.";

// Function names are copied here before the lookup; longer names cannot be
// exported by any library and fail like a missing function.
constexpr size_t name_buffer_size = 1024;

// Libraries the binder loaded itself, freed at shutdown. Binding is rare, so a
// lock costs nothing and keeps two threads binding at once from sharing a place.
std::mutex g_loaded_libraries_lock;
platform::Handle g_loaded_libraries[loaded_libraries_room];
int32_t g_loaded_library_count = 0;

[[noreturn]] void binding_failed(const char* text) {
  platform::message_box(nullptr, text, binding_error_caption, platform::message_box_icon_error);
  runtime_exit(0);
}

[[noreturn]] void library_missing(const char* library) {
  char text[name_buffer_size];
  std::snprintf(text, sizeof text, library_missing_format, library);
  binding_failed(text);
}

[[noreturn]] void function_missing(const char* library, const char* function) {
  char text[name_buffer_size];
  std::snprintf(text, sizeof text, function_missing_format, library, function);
  binding_failed(text);
}

// Keeps a library the binder loaded; false when the table has no room left.
bool remember_loaded_library(platform::Handle module) {
  std::lock_guard<std::mutex> hold(g_loaded_libraries_lock);
  if (g_loaded_library_count == loaded_libraries_room) return false;
  g_loaded_libraries[g_loaded_library_count++] = module;
  if (g_loaded_library_count == 1) g_libraries_cleanup = free_loaded_libraries;
  return true;
}

platform::Handle find_library(const char* library) {
  platform::Handle module = g_library_calls.module_handle(library);
  if (module) return module;
  module = g_library_calls.load_library(library);
  if (!module) library_missing(library);
  if (!remember_loaded_library(module)) {
    g_library_calls.free_library(module);
    library_missing(library);
  }
  return module;
}

}  // namespace

void* bind_api(const char* library, const char* function, std::atomic<void*>* slot) {
  platform::Handle module = find_library(library);
  char name[name_buffer_size];
  const char* key = name;
  if (function[0] == '#') {
    // An ordinal is a 16-bit number handed over in place of the name's address.
    const long ordinal = std::strtol(function + 1, nullptr, 10);
    if (ordinal < 0 || ordinal > 0xFFFF) function_missing(library, function);
    key = reinterpret_cast<const char*>(static_cast<uintptr_t>(ordinal));
  } else {
    size_t length = strnlen(function, name_buffer_size);
    if (length == name_buffer_size) function_missing(library, function);
    std::memcpy(name, function, length + 1);
    // "name@@decoration" is looked up as "name"; a single '@' stays.
    char* at = std::strchr(name, '@');
    if (at && at[1] == '@') *at = 0;
  }
  void* address = g_library_calls.find_function(module, key);
  if (!address) function_missing(library, function);
  slot->store(address, std::memory_order_release);
  return address;
}

void free_loaded_libraries() {
  std::lock_guard<std::mutex> hold(g_loaded_libraries_lock);
  for (int32_t i = 0; i < g_loaded_library_count && g_loaded_libraries[i]; ++i) {
    g_library_calls.free_library(g_loaded_libraries[i]);
    g_loaded_libraries[i] = nullptr;
  }
  g_loaded_library_count = 0;
}
