// Files on Linux: open(2) with the access and creation values mapped to its
// flags, names converted from code page 936 to UTF-8.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/code_pages.h"

namespace platform {

const char directory_separator[] = "/";

std::string current_directory() {
  // A buffer of our own that grows until the path fits: getcwd's own buffer
  // would come from the C heap.
  std::vector<char> directory(256);
  while (getcwd(directory.data(), directory.size()) == nullptr) {
    if (errno != ERANGE) return {};
    directory.resize(directory.size() * 2);
  }
  return utf8_to_local_string(directory.data());
}

intptr_t create_file(const char* name, uint32_t desired_access, uint32_t /*share_mode*/,
                     uint32_t creation_disposition) {
  if (name == nullptr || *name == 0) return invalid_file_handle;
  const std::string path = local_to_utf8(name);
  int flags = O_CLOEXEC;
  const bool reads = (desired_access & generic_read) != 0;
  const bool writes = (desired_access & generic_write) != 0;
  flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
  if (creation_disposition == create_always) flags |= O_CREAT | O_TRUNC;
  if (creation_disposition == open_always) flags |= O_CREAT;
  const int descriptor = open(path.c_str(), flags, 0666);
  if (descriptor < 0) return invalid_file_handle;
  // A directory opens for reading on Linux; Windows refuses it, and so does this.
  struct stat status;
  if (fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
    close(descriptor);
    return invalid_file_handle;
  }
  return descriptor;
}

bool write_to_file(intptr_t handle, const void* bytes, uint32_t count) {
  const auto* next = static_cast<const unsigned char*>(bytes);
  size_t left = count;
  // write(2) may take fewer bytes than asked (a signal, a large request); the
  // rest follows until all are written or the system reports a failure.
  while (left > 0) {
    const ssize_t written = write(static_cast<int>(handle), next, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    next += written;
    left -= static_cast<size_t>(written);
  }
  return true;
}

int64_t read_from_file(intptr_t handle, void* bytes, uint32_t count) {
  for (;;) {
    const ssize_t got = read(static_cast<int>(handle), bytes, count);
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

bool flush_file(intptr_t handle) { return fsync(static_cast<int>(handle)) == 0; }

int64_t file_size(intptr_t handle) {
  struct stat status;
  return fstat(static_cast<int>(handle), &status) == 0 ? int64_t{status.st_size} : -1;
}

void close_file_handle(intptr_t handle) { close(static_cast<int>(handle)); }

bool replace_file(const char* from, const char* to) {
  if (from == nullptr || to == nullptr || *from == 0 || *to == 0) return false;
  const std::string to_path = local_to_utf8(to);
  if (rename(local_to_utf8(from).c_str(), to_path.c_str()) != 0) return false;
  // The new name is only lasting once the folder that holds it is on the disk.
  const size_t slash = to_path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : to_path.substr(0, slash);
  const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor >= 0) {
    fsync(descriptor);
    close(descriptor);
  }
  return true;
}

bool delete_file(const char* name) { return name != nullptr && *name != 0 && unlink(local_to_utf8(name).c_str()) == 0; }

}  // namespace platform
