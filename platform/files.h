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

void close_file_handle(intptr_t handle);

}  // namespace platform
