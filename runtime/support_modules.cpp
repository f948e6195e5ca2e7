#include "runtime/support_modules.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/code_page_936.h"
#include "platform/os.h"
#include "platform/system.h"
#include "runtime/arrays.h"
#include "runtime/memory.h"
#include "runtime/threads.h"

const SupportModuleNotify g_support_modules[] = {thread_module::module_notify, nullptr};

namespace {

// "Quillmere RunTime Error:\r\n\r\n%s"
constexpr const char* module_error_format = "Quillmere RunTime Error:\r\n\r\n%s";
constexpr const char* module_error_caption = "ERROR";
// "不支持系统功能函数%d. 请将此信息反馈给作者"
constexpr const char* unsupported_service_format =
    "\xb2\xbb\xd6\xa7\xb3\xd6\xcf\xb5\xcd\xb3\xb9\xa6\xc4\xdc\xba\xaf\xca\xfd%d. "
    "\xc7\xeb\xbd\xab\xb4\xcb\xd0\xc5\xcf\xa2\xb7\xb4\xc0\xa1\xb8\xf8\xd7\xf7\xd5\xdf";
constexpr const char* unsupported_service_caption = "quillmere";

constexpr size_t path_buffer_size = 260;
// Shared by the path services; a later call overwrites what an earlier one gave.
char g_program_directory[path_buffer_size];
char g_program_file_name[path_buffer_size];

// The program's full path, or false (and an empty path) when it cannot be had
// whole.
bool read_program_path(char (&path)[path_buffer_size]) {
  uint32_t length = platform::get_module_file_name(nullptr, path, path_buffer_size);
  if (length == 0 || length >= path_buffer_size) {
    path[0] = 0;
    return false;
  }
  return true;
}

intptr_t program_path_piece(intptr_t selector, intptr_t destination) {
  char path[path_buffer_size];
  read_program_path(path);
  size_t name = size_t(path_file_name(path) - path);
  std::memcpy(g_program_directory, path, name);
  g_program_directory[name] = 0;
  std::memcpy(g_program_file_name, path + name, std::strlen(path + name) + 1);
  const char* piece = nullptr;
  if (selector == 1 || selector == 2001)
    piece = g_program_directory;
  else if (selector == 2002)
    piece = g_program_file_name;
  if (!piece) return 0;
  // Both pieces are shorter than the 260 bytes the destination holds.
  if (destination) std::memcpy(reinterpret_cast<char*>(destination), piece, std::strlen(piece) + 1);
  return reinterpret_cast<intptr_t>(piece);
}

intptr_t program_directory() {
  if (!read_program_path(g_program_directory)) return 0;
  size_t name = size_t(path_file_name(g_program_directory) - g_program_directory);
  g_program_directory[name ? name - 1 : 0] = 0;
  return reinterpret_cast<intptr_t>(g_program_directory);
}

intptr_t program_file_name() {
  if (!read_program_path(g_program_file_name)) return 0;
  return reinterpret_cast<intptr_t>(path_file_name(g_program_file_name));
}

// Reals are truncated toward zero and held to the 32-bit range (NaN gives 0).
int32_t saturated_int(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

intptr_t integer_of_cell(const ArgCell* cell) {
  if (!cell) return 0;
  if (cell->tag == tag_float32) {
    float value;
    auto bits = static_cast<uint32_t>(cell->value);
    std::memcpy(&value, &bits, sizeof value);
    return saturated_int(value);
  }
  if (cell->tag == tag_float64) {
    double value;
    std::memcpy(&value, &cell->value, sizeof value);
    return saturated_int(value);
  }
  return cell->low();
}

// Frees an Array value of the given element type: text and byte-set arrays with
// their elements, arrays of plain values as one block, anything else not at all.
void free_array_value(uint32_t element_tag, void* block) {
  switch (element_tag) {
    case tag_text:
    case tag_byte_set:
      if (block && !is_in_program_image(block)) free_text_array(block);
      return;
    case tag_boolean:
    case tag_date_time:
    case tag_subroutine:
    case tag_byte:
    case tag_int16:
    case tag_int32:
    case tag_int64:
    case tag_float32:
    case tag_float64: runtime_free(block); return;
    default: return;
  }
}

[[noreturn]] void module_error(const char* message) {
  char text[1024];
  std::snprintf(text, sizeof text, module_error_format, message ? message : "");
  platform::message_box(nullptr, text, module_error_caption, platform::message_box_icon_error);
  runtime_exit(0);
}

void unsupported_service(int32_t code) {
  char text[256];
  std::snprintf(text, sizeof text, unsupported_service_format, code);
  platform::message_box(nullptr, text, unsupported_service_caption, platform::message_box_icon_error);
}

}  // namespace

const char* path_file_name(const char* path) {
  const char* name = path;
  for (const char* p = path; *p;) {
    const auto byte = static_cast<unsigned char>(*p);
    if (character_width_in_text(p) == 2) {
      p += 2;
      continue;
    }
    ++p;
    if (byte == '\\' || byte == '/') name = p;
  }
  return name;
}

const char* command_line_arguments(const char* line) {
  if (*line == '"') {
    const char* closing = std::strchr(line + 1, '"');
    if (!closing) return line + std::strlen(line);
    return closing[1] == ' ' ? closing + 2 : closing + 1;
  }
  const char* blank = std::strchr(line, ' ');
  return blank ? blank + 1 : line + std::strlen(line);
}

intptr_t runtime_service(int32_t code, intptr_t argument1, intptr_t argument2) {
  switch (code) {
    case 1004: return 1;
    case 1005: return 4;
    case 1006: return program_path_piece(argument1, argument2);
    case 2001: return integer_of_cell(reinterpret_cast<const ArgCell*>(argument1));
    case 2002: return reinterpret_cast<intptr_t>(command_line_arguments(platform::get_command_line()));
    case 2003: return program_directory();
    case 2004: return program_file_name();
    case 2018: process_pending_messages(); return 0;
    case 2023: free_array_value(static_cast<uint32_t>(argument1), reinterpret_cast<void*>(argument2)); return 0;
    case 2024: return reinterpret_cast<intptr_t>(runtime_alloc(static_cast<size_t>(argument1)));
    case 2025: runtime_free(reinterpret_cast<const void*>(argument1)); return 0;
    case 2026:
      return reinterpret_cast<intptr_t>(
          runtime_realloc(reinterpret_cast<void*>(argument1), static_cast<size_t>(argument2)));
    case 2027: module_error(reinterpret_cast<const char*>(argument1));
    case 2028: runtime_exit(static_cast<int32_t>(argument1));
    case 2030: return 3;
    case 2032:
    case 2033: return 0;
    default: unsupported_service(code); return 0;
  }
}

ArgCell call_module_command(ModuleCommand command, int32_t count, const ArgCell* cells) {
  ArgCell result{};
  command(&result, count, cells);
  return result;
}
