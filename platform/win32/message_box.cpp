// Message boxes on Windows. Texts are code page 936 inside the program and are
// converted with that code page (not the system's ANSI code page) to UTF-16, so
// a box reads the same on a Windows of any language.
#include <windows.h>

#include <string>

#include "platform/os.h"
#include "platform/win32/wide_texts.h"

namespace platform {

MessageBoxObserver g_message_box_observer = nullptr;

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
