#include "platform/linux/builtin_modules.h"

#include <strings.h>

#include <cstdint>
#include <cstring>
#include <iterator>

namespace platform {

namespace {

struct BuiltinFunction {
  const char* name;
  void* address;
};

struct BuiltinModule {
  const char* name;
  const BuiltinFunction* functions;
  size_t count;
};

const BuiltinFunction user32_functions[] = {
    {"EndDialog", reinterpret_cast<void*>(&end_dialog)},
    {"EnableWindow", reinterpret_cast<void*>(&enable_window)},
};

const BuiltinFunction kernel32_functions[] = {
    {"CloseHandle", reinterpret_cast<void*>(&close_handle)},
};

const BuiltinModule builtin_modules[] = {
    {"user32", user32_functions, std::size(user32_functions)},
    {"kernel32", kernel32_functions, std::size(kernel32_functions)},
};

// "user32", "USER32" and "user32.dll" all name the same module.
bool same_library(const char* wanted, const char* name) {
  size_t length = std::strlen(name);
  if (strncasecmp(wanted, name, length) != 0) return false;
  return wanted[length] == 0 || strcasecmp(wanted + length, ".dll") == 0;
}

}  // namespace

Handle find_builtin_module(const char* library) {
  if (!library) return nullptr;
  for (const BuiltinModule& module : builtin_modules)
    if (same_library(library, module.name)) return const_cast<BuiltinModule*>(&module);
  return nullptr;
}

bool is_builtin_module(Handle module) {
  for (const BuiltinModule& candidate : builtin_modules)
    if (module == &candidate) return true;
  return false;
}

void* find_builtin_function(Handle module, const char* name) {
  if (!is_builtin_module(module) || reinterpret_cast<uintptr_t>(name) < 0x10000) return nullptr;
  const auto* entry = static_cast<const BuiltinModule*>(module);
  for (size_t i = 0; i < entry->count; ++i)
    if (std::strcmp(entry->functions[i].name, name) == 0) return entry->functions[i].address;
  return nullptr;
}

}  // namespace platform
