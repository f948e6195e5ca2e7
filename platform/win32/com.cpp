// COM set-up per thread on Windows.
#include "platform/system.h"

// After the platform headers: <windows.h> defines macros named like their constants.
#include <objbase.h>

namespace os {

void com_initialize() { CoInitialize(nullptr); }

void com_uninitialize() { CoUninitialize(); }

}  // namespace os
