#include "platform/linux/handles.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace platform {

namespace {

std::mutex g_handles_lock;
std::unordered_map<uint32_t, std::shared_ptr<HandleObject>> g_handles;
uint32_t g_last_handle = 0;

}  // namespace

Handle add_handle(std::shared_ptr<HandleObject> object) {
  std::lock_guard<std::mutex> hold(g_handles_lock);
  // Numbers are reused only after the 32-bit range has gone round once, and
  // never while still open.
  for (uint32_t tries = 0; tries < (uint32_t(1) << 30); ++tries) {
    g_last_handle += 4;
    if (g_last_handle == 0 || g_handles.count(g_last_handle)) continue;
    g_handles.emplace(g_last_handle, std::move(object));
    return reinterpret_cast<Handle>(static_cast<uintptr_t>(g_last_handle));
  }
  return nullptr;
}

std::shared_ptr<HandleObject> find_handle(Handle handle) {
  auto number = reinterpret_cast<uintptr_t>(handle);
  if (number > UINT32_MAX) return nullptr;
  std::lock_guard<std::mutex> hold(g_handles_lock);
  auto found = g_handles.find(static_cast<uint32_t>(number));
  return found == g_handles.end() ? nullptr : found->second;
}

bool remove_handle(Handle handle) {
  auto number = reinterpret_cast<uintptr_t>(handle);
  if (number > UINT32_MAX) return false;
  std::shared_ptr<HandleObject> object;
  {
    std::lock_guard<std::mutex> hold(g_handles_lock);
    auto found = g_handles.find(static_cast<uint32_t>(number));
    if (found == g_handles.end()) return false;
    object = std::move(found->second);
    g_handles.erase(found);
  }
  return true;
}

}  // namespace platform
