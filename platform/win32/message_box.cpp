// Message boxes on Windows. Texts are code page 936 inside the program and are
// converted with that code page (not the system's ANSI code page) to UTF-16, so
// a box reads the same on a Windows of any language.
#include <windows.h>

#include <string>

#include "platform/os.h"

namespace platform {

MessageBoxObserver g_message_box_observer = nullptr;

namespace {

std::wstring wide_from_local(const char* text) {
  if (!text) return {};
  int length = MultiByteToWideChar(936, 0, text, -1, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(936, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

}  // namespace

int32_t PLATFORM_API message_box(Window owner, const char* text, const char* caption, uint32_t style) {
  if (g_message_box_observer) {
    g_message_box_observer(text ? text : "", caption ? caption : "", style);
    return IDOK;
  }
  std::wstring wide_text = wide_from_local(text);
  std::wstring wide_caption = wide_from_local(caption);
  return MessageBoxW(static_cast<HWND>(owner), wide_text.c_str(), caption ? wide_caption.c_str() : nullptr, style);
}

}  // namespace platform
