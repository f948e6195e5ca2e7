// Handles on Linux: small non-zero numbers, multiples of 4 as Windows hands
// them out, that name objects of the platform layer (threads, timers), so that
// one close_handle closes every kind and a handle fits in a 32-bit variable.
// Safe to use from any thread.
#pragma once

#include <memory>

#include "platform/os.h"

namespace platform {

struct HandleObject {
  virtual ~HandleObject() = default;
};

// Names object with a new handle; null when no number is left.
Handle add_handle(std::shared_ptr<HandleObject> object);
// The object named by handle, or null when the handle is not open.
std::shared_ptr<HandleObject> find_handle(Handle handle);
// Closes handle; false when it was not open.
bool remove_handle(Handle handle);

}  // namespace platform
