// The built-in modules: the few functions that Windows programs bind from its
// system libraries, served by this platform layer under the same library and
// function names, so that the binder finds them before it tries dlopen.
// A module's handle is the address of its entry; names match without regard to
// case, and a library name may carry ".dll".
#pragma once

#include "platform/os.h"

namespace platform {

// The module's handle, or null when no built-in module has that name.
Handle find_builtin_module(const char* library);
bool is_builtin_module(Handle module);
// The function's address, or null; built-in modules export nothing by ordinal.
void* find_builtin_function(Handle module, const char* name);

}  // namespace platform
