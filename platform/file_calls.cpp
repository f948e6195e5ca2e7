#include <mutex>

#include "platform/files.h"

namespace platform {

namespace {

std::mutex g_lock;
// Constant-initialised, so that it holds the system's calls before any code runs.
constinit FileCalls g_calls{create_file, file_size,         read_from_file, write_to_file,
                            flush_file,  close_file_handle, replace_file,   delete_file};

}  // namespace

FileCalls default_file_calls() {
  return {create_file, file_size,         read_from_file, write_to_file,
          flush_file,  close_file_handle, replace_file,   delete_file};
}

// A copy under the lock: a test may set the calls while another thread uses the files.
FileCalls file_calls() {
  const std::lock_guard<std::mutex> guard(g_lock);
  return g_calls;
}

void set_file_calls(const FileCalls& calls) {
  const std::lock_guard<std::mutex> guard(g_lock);
  g_calls = calls;
}

}  // namespace platform
