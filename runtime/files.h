// The runtime's file commands: the current directory, opening or creating a
// file, writing values to it as text or bytes, flushing and closing it, reading a
// whole file, putting one file in place of another, deleting one, and closing
// every file still open when the process ends. Every system call goes through
// the table of platform::file_calls (platform/files.h), where tests put failures.
//
// A file is named by its file number, a 32-bit identity of its entry in the
// list of open files (0 stands for no file); every command checks a number
// against that list first, so a stale or made-up number is refused and nothing
// is written anywhere. While any file is open, g_files_cleanup holds
// close_all_files. Names are code-page-936 texts. The commands are meant for
// one thread at a time (the program uses them on its main thread only).
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/text_commands.h"
#include "runtime/texts.h"
#include "runtime/values.h"

// The current directory without a separator at its end (a root keeps its own);
// empty when it cannot be read or does not fit in 260 bytes with a terminator.
Text current_directory();

// Opens or creates the file name; 0 when that fails. Open modes (desired
// access, creation): omitted or any unlisted value: read and write, existing
// file only; 1: read, existing; 2: write, existing; 3: read and write, existing;
// 4: write, created or emptied; 5: write, opened or created; 6: read and write,
// opened or created. Share modes: 2 shares writing, 3 shares reading, 4 shares
// nothing, anything else shares both. The position is the start of the file.
int32_t open_file(const char* name, OptionalInt open_mode = std::nullopt, OptionalInt share_mode = std::nullopt);

// Cell form: the file number, then one or more values. A Text is written as its
// bytes unchanged; other values as value_to_file_text gives them, and skipped
// when that gives nothing. True when every write succeeded; false for an
// unknown file, and after the first failed write (the values after it are not
// written).
bool write_file(int32_t count, const ArgCell* cells);

template <typename... Values>
requires(std::same_as<Values, ArgCell>&&...) bool write_file(int32_t file, const Values&... values) {
  const ArgCell cells[] = {cell_int(file), values...};
  return write_file(static_cast<int32_t>(1 + sizeof...(Values)), cells);
}

// Writes bytes unchanged (NUL bytes included) to the file; true when all were written.
bool write_file_bytes(int32_t file, std::string_view bytes);

// Writes what the system still holds of the file through to the disk; true on success.
bool flush_file(int32_t file);

// Reads the whole file name into bytes; false (and bytes empty) when it cannot
// be opened or read to its end.
bool read_whole_file(const char* name, std::string& bytes);

// Puts the file from in place of the file to in one step (to is either the old
// file or the whole new one, also after a crash); true on success.
bool replace_file(const char* from, const char* to);

// Deletes the file name; true when it was deleted.
bool delete_file(const char* name);

// Closes the file; 0 and unknown numbers do nothing.
void close_file(int32_t file);

// Closes every open file (the shutdown hook).
void close_all_files();
