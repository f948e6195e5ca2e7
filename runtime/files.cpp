#include "runtime/files.h"

#include <algorithm>

#include "platform/files.h"
#include "runtime/memory.h"

namespace {

constexpr size_t directory_room = 260;

// One open file (always a disk file reached through a system handle). The
// list is newest first.
struct FileObject {
  intptr_t handle;
  FileObject* next;
  int32_t number;
};

FileObject* g_open_files = nullptr;
int32_t g_last_file_number = 0;

FileObject* find_open_file(int32_t number) {
  if (number == 0) return nullptr;
  for (FileObject* file = g_open_files; file != nullptr; file = file->next) {
    if (file->number == number) return file;
  }
  return nullptr;
}

// Numbers count up from 1 and wrap round; a number still in use is passed over,
// so no two open files ever share one.
int32_t next_file_number() {
  do {
    g_last_file_number = g_last_file_number == INT32_MAX ? 1 : g_last_file_number + 1;
  } while (find_open_file(g_last_file_number) != nullptr);
  return g_last_file_number;
}

void register_file(FileObject* file) {
  if (g_open_files == nullptr) g_files_cleanup = close_all_files;
  file->next = g_open_files;
  g_open_files = file;
}

void close_entry(FileObject* file) {
  platform::file_calls().close_file_handle(file->handle);
  delete file;
}

struct OpenMode {
  uint32_t desired_access;
  uint32_t creation_disposition;
};

OpenMode open_mode_of(OptionalInt mode) {
  constexpr uint32_t read_write = platform::generic_read | platform::generic_write;
  switch (mode.value_or(0)) {
    case 1: return {platform::generic_read, platform::open_existing};
    case 2: return {platform::generic_write, platform::open_existing};
    case 4: return {platform::generic_write, platform::create_always};
    case 5: return {platform::generic_write, platform::open_always};
    case 6: return {read_write, platform::open_always};
    default: return {read_write, platform::open_existing};
  }
}

uint32_t share_mode_of(OptionalInt mode) {
  switch (mode.value_or(1)) {
    case 2: return platform::file_share_write;
    case 3: return platform::file_share_read;
    case 4: return 0;
    default: return platform::file_share_read | platform::file_share_write;
  }
}

}  // namespace

Text current_directory() {
  const std::string directory = platform::current_directory();
  if (directory.empty() || directory.size() + 1 > directory_room) return Text();
  return Text::adopt(copy_text_bytes(directory.data(), static_cast<int32_t>(directory.size())));
}

int32_t open_file(const char* name, OptionalInt open_mode, OptionalInt share_mode) {
  const OpenMode mode = open_mode_of(open_mode);
  const intptr_t handle = platform::file_calls().create_file(name, mode.desired_access, share_mode_of(share_mode),
                                                             mode.creation_disposition);
  if (handle == platform::invalid_file_handle) return 0;
  auto* file = new FileObject{handle, nullptr, next_file_number()};
  register_file(file);
  return file->number;
}

bool write_file(int32_t count, const ArgCell* cells) {
  if (count < 1) return false;
  const FileObject* file = find_open_file(cells[0].low());
  if (file == nullptr) return false;
  for (int32_t i = 1; i < count; ++i) {
    const ArgCell& value = cells[i];
    Text converted;
    const char* text;
    if (value.tag == tag_text) {
      text = value.address<const char>();
    } else {
      converted = Text::adopt(value_to_file_text(&value));
      if (converted.get() == nullptr) continue;
      text = converted.get();
    }
    const int32_t length = text_length(text);
    if (length == 0) continue;
    if (!platform::file_calls().write_to_file(file->handle, text, static_cast<uint32_t>(length))) return false;
  }
  return true;
}

void close_file(int32_t number) {
  FileObject* file = find_open_file(number);
  if (file == nullptr) return;
  FileObject** link = &g_open_files;
  while (*link != file) link = &(*link)->next;
  *link = file->next;
  if (g_open_files == nullptr) g_files_cleanup = nullptr;
  close_entry(file);
}

bool write_file_bytes(int32_t number, std::string_view bytes) {
  const FileObject* file = find_open_file(number);
  if (file == nullptr) return false;
  const platform::FileCalls calls = platform::file_calls();
  // One write of at most 1 GiB at a time, so that a count always fits.
  constexpr size_t most_at_once = size_t{1} << 30;
  for (size_t at = 0; at < bytes.size(); at += most_at_once) {
    const size_t count = std::min(bytes.size() - at, most_at_once);
    if (!calls.write_to_file(file->handle, bytes.data() + at, static_cast<uint32_t>(count))) return false;
  }
  return true;
}

bool flush_file(int32_t number) {
  const FileObject* file = find_open_file(number);
  return file != nullptr && platform::file_calls().flush_file(file->handle);
}

bool read_whole_file(const char* name, std::string& bytes) {
  bytes.clear();
  const platform::FileCalls calls = platform::file_calls();
  const intptr_t handle =
      calls.create_file(name, platform::generic_read, platform::file_share_read, platform::open_existing);
  if (handle == platform::invalid_file_handle) return false;
  // The file is read into one block of its size, and on to its end should it
  // have grown meanwhile.
  const int64_t size = calls.file_size(handle);
  bool read_all = size >= 0 && static_cast<uint64_t>(size) < bytes.max_size();
  if (read_all) bytes.resize(static_cast<size_t>(size) + 1);
  size_t filled = 0;
  while (read_all) {
    if (filled == bytes.size()) bytes.resize(bytes.size() * 2);
    const size_t room = std::min<size_t>(bytes.size() - filled, uint32_t{1} << 30);
    const int64_t got = calls.read_from_file(handle, bytes.data() + filled, static_cast<uint32_t>(room));
    if (got <= 0) {
      read_all = got == 0;
      break;
    }
    filled += static_cast<size_t>(got);
  }
  calls.close_file_handle(handle);
  bytes.resize(read_all ? filled : 0);
  return read_all;
}

bool replace_file(const char* from, const char* to) { return platform::file_calls().replace_file(from, to); }

bool delete_file(const char* name) { return platform::file_calls().delete_file(name); }

void close_all_files() {
  FileObject* file = g_open_files;
  g_open_files = nullptr;
  g_files_cleanup = nullptr;
  while (file != nullptr) {
    FileObject* next = file->next;
    close_entry(file);
    file = next;
  }
}
