// Linux has no COM: the automation classes of the platform layer need no
// per-thread set-up, so these calls do nothing.
#include "platform/system.h"

namespace os {

void com_initialize() {}

void com_uninitialize() {}

}  // namespace os
