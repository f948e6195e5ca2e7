// Files on Windows: the wide-character calls, with names and the current
// directory converted between code page 936 and UTF-16, so that Chinese names
// work on a Windows of any language.
#include "platform/files.h"

#include <windows.h>

#include "platform/code_pages.h"

namespace platform {

const char directory_separator[] = "\\";

std::string current_directory() {
  const DWORD needed = GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) return {};
  std::u16string directory(needed, u'\0');
  const DWORD length = GetCurrentDirectoryW(needed, reinterpret_cast<LPWSTR>(directory.data()));
  if (length == 0 || length >= needed) return {};
  directory.resize(length);
  return utf16_to_local(directory);
}

intptr_t create_file(const char* name, uint32_t desired_access, uint32_t share_mode, uint32_t creation_disposition) {
  if (name == nullptr || *name == 0) return invalid_file_handle;
  const std::u16string wide_name = local_to_utf16(name);
  HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(wide_name.c_str()), desired_access, share_mode, nullptr,
                            creation_disposition, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  return file == INVALID_HANDLE_VALUE ? invalid_file_handle : reinterpret_cast<intptr_t>(file);
}

bool write_to_file(intptr_t handle, const void* bytes, uint32_t count) {
  DWORD written = 0;
  return WriteFile(reinterpret_cast<HANDLE>(handle), bytes, count, &written, nullptr) && written == count;
}

int64_t read_from_file(intptr_t handle, void* bytes, uint32_t count) {
  DWORD got = 0;
  return ReadFile(reinterpret_cast<HANDLE>(handle), bytes, count, &got, nullptr) ? int64_t{got} : -1;
}

bool flush_file(intptr_t handle) { return FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) != 0; }

int64_t file_size(intptr_t handle) {
  LARGE_INTEGER size;
  return GetFileSizeEx(reinterpret_cast<HANDLE>(handle), &size) ? int64_t{size.QuadPart} : -1;
}

void close_file_handle(intptr_t handle) { CloseHandle(reinterpret_cast<HANDLE>(handle)); }

bool replace_file(const char* from, const char* to) {
  if (from == nullptr || to == nullptr || *from == 0 || *to == 0) return false;
  const std::u16string wide_from = local_to_utf16(from);
  const std::u16string wide_to = local_to_utf16(to);
  return MoveFileExW(reinterpret_cast<LPCWSTR>(wide_from.c_str()), reinterpret_cast<LPCWSTR>(wide_to.c_str()),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool delete_file(const char* name) {
  if (name == nullptr || *name == 0) return false;
  const std::u16string wide_name = local_to_utf16(name);
  return DeleteFileW(reinterpret_cast<LPCWSTR>(wide_name.c_str())) != 0;
}

}  // namespace platform
