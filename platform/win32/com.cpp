// COM set-up per thread on Windows.
#include <objbase.h>

#include "platform/system.h"

namespace platform {

void com_initialize() { CoInitialize(nullptr); }

void com_uninitialize() { CoUninitialize(); }

}  // namespace platform
