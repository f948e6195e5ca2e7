// Code page conversions on Windows: the system's own tables. Code page 0 is
// passed on as 936, not as CP_ACP, so that the program's texts mean the same
// on a Windows of any language.
#include "platform/code_pages.h"

#include <windows.h>

namespace platform {

namespace {
UINT windows_code_page(uint32_t code_page) { return code_page == code_page::system_ansi ? code_page::gbk : code_page; }
}  // namespace

int32_t multi_byte_to_utf16(uint32_t code_page, const char* text, int32_t length, char16_t* units, int32_t capacity) {
  if (text == nullptr || length == 0 || length < -1 || capacity < 0) return 0;
  return MultiByteToWideChar(windows_code_page(code_page), 0, text, length, reinterpret_cast<LPWSTR>(units), capacity);
}

int32_t utf16_to_multi_byte(uint32_t code_page, const char16_t* units, int32_t length, char* bytes, int32_t capacity) {
  if (units == nullptr || length == 0 || length < -1 || capacity < 0) return 0;
  return WideCharToMultiByte(windows_code_page(code_page), 0, reinterpret_cast<LPCWSTR>(units), length, bytes, capacity,
                             nullptr, nullptr);
}

int32_t utf16_to_multi_byte_exact(uint32_t code_page, const char16_t* units, int32_t length, char* bytes,
                                  int32_t capacity) {
  if (units == nullptr || length == 0 || length < -1 || capacity < 0) return 0;
  // UTF-8 takes no such flag, and has every character anyway.
  const DWORD flags = code_page == code_page::utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  return WideCharToMultiByte(windows_code_page(code_page), flags, reinterpret_cast<LPCWSTR>(units), length, bytes,
                             capacity, nullptr, nullptr);
}

}  // namespace platform
