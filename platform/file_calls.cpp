#include <atomic>

#include "platform/files.h"

namespace platform {

namespace {

std::atomic<const FileCalls*> g_calls{nullptr};

}  // namespace

FileCalls default_file_calls() {
  return {create_file, file_size,         read_from_file, write_to_file,
          flush_file,  close_file_handle, replace_file,   delete_file};
}

FileCalls file_calls() {
  const FileCalls* calls = g_calls.load(std::memory_order_acquire);
  return calls ? *calls : default_file_calls();
}

void set_file_calls(const FileCalls& calls) {
  // Each table set stays for the rest of the process: a thread may still be
  // reading the one before (tests set a handful).
  g_calls.store(new FileCalls(calls), std::memory_order_release);
}

}  // namespace platform
