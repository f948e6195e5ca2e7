// The file seam under the runtime's file commands (runtime/files.h): the
// current directory, creating or opening a file with the Windows access and
// creation values, writing at the present position, and closing.
//
// Names and the directory are code-page-936 texts; each platform converts them
// at the boundary (UTF-16 on Windows, UTF-8 on Linux). A handle is the
// system's own (a HANDLE on Windows, a descriptor on Linux) held in an
// intptr_t; invalid_file_handle stands for "no file". The share mode has no
// meaning on Linux and is accepted there without effect.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

constexpr uint32_t generic_read = 0x80000000;
constexpr uint32_t generic_write = 0x40000000;
constexpr uint32_t file_share_read = 1;
constexpr uint32_t file_share_write = 2;
constexpr uint32_t create_always = 2;
constexpr uint32_t open_existing = 3;
constexpr uint32_t open_always = 4;
constexpr intptr_t invalid_file_handle = -1;

// What stands between a directory and a name inside it: "\" on Windows, "/" on Linux.
extern const char directory_separator[];

// The process's current directory in code page 936, as the system reports it
// (a root keeps its separator, other directories have none at the end); empty
// when it cannot be read.
std::string current_directory();

// Opens or creates the file name (relative names are relative to the current
// directory) with desired_access (generic_read and/or generic_write), the share
// mode and creation_disposition (create_always empties an existing file,
// open_always and open_existing keep its content); the position is the start of
// the file. Directories are never opened. invalid_file_handle on failure.
intptr_t create_file(const char* name, uint32_t desired_access, uint32_t share_mode, uint32_t creation_disposition);

// Writes count bytes at the present position; true when all of them were written.
bool write_to_file(intptr_t handle, const void* bytes, uint32_t count);

// Reads up to count bytes at the present position: the number read (0 at the
// end of the file), or -1 on failure.
int64_t read_from_file(intptr_t handle, void* bytes, uint32_t count);

// Writes what the system still holds of the file through to the disk; true on success.
bool flush_file(intptr_t handle);

// The file's size in bytes; -1 when it cannot be had.
int64_t file_size(intptr_t handle);

void close_file_handle(intptr_t handle);

// Puts the file from in place of the file to in one step: to names either its
// old content or from's whole content, never anything between, also after a
// crash. Windows: MoveFileExW with MOVEFILE_REPLACE_EXISTING and
// MOVEFILE_WRITE_THROUGH; Linux: rename(2), then fsync of the folder. True on success.
bool replace_file(const char* from, const char* to);

// Deletes the file name; true when it was deleted.
bool delete_file(const char* name);

// The file calls the runtime's file commands make, as one table. Tests put
// calls in place that fail part way (a full disk, a failed rename) and check
// what the program leaves behind; the program always runs with the defaults.
struct FileCalls {
  intptr_t (*create_file)(const char* name, uint32_t desired_access, uint32_t share_mode,
                          uint32_t creation_disposition);
  int64_t (*file_size)(intptr_t handle);
  int64_t (*read_from_file)(intptr_t handle, void* bytes, uint32_t count);
  bool (*write_to_file)(intptr_t handle, const void* bytes, uint32_t count);
  bool (*flush_file)(intptr_t handle);
  void (*close_file_handle)(intptr_t handle);
  bool (*replace_file)(const char* from, const char* to);
  bool (*delete_file)(const char* name);
};

// The system's own calls above.
FileCalls default_file_calls();
FileCalls file_calls();
// For tests: the calls of the file commands from now on. One thread at a time.
void set_file_calls(const FileCalls& calls);

}  // namespace platform
