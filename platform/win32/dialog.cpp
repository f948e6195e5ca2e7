// The dialog calls of platform/os.h over the wide-character Win32 calls.
//
// The dialog is created from its template as a Unicode dialog, and every text
// crossing to or from it is converted between code page 936 and UTF-16 with
// code page 936 named explicitly, never the system's ANSI code page: the program
// keeps its texts in code page 936 on every system, so the dialog shows and
// returns Chinese correctly on a Windows of any language.
#include "platform/os.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "platform/dialog_support.h"
#include "platform/win32/wide_texts.h"

namespace platform {

namespace {

HWND window_of(Window window) { return static_cast<HWND>(window); }

}  // namespace

Window PLATFORM_API get_dialog_item(Window dialog, int32_t id) { return ::GetDlgItem(window_of(dialog), id); }

uint32_t PLATFORM_API get_dialog_item_text(Window dialog, int32_t id, char* buffer, int32_t size) {
  if (!buffer || size <= 0) return 0;
  buffer[0] = 0;
  const HWND control = ::GetDlgItem(window_of(dialog), id);
  if (!control) return 0;
  const int length = GetWindowTextLengthW(control);
  std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
  wide.resize(static_cast<size_t>(GetWindowTextW(control, wide.data(), length + 1)));
  const std::string local = local_from_wide(wide);
  const size_t count = local_text_fit(local.data(), local.size(), static_cast<size_t>(size) - 1);
  std::memcpy(buffer, local.data(), count);
  buffer[count] = 0;
  return static_cast<uint32_t>(count);
}

Bool PLATFORM_API set_dialog_item_text(Window dialog, int32_t id, const char* text) {
  return ::SetDlgItemTextW(window_of(dialog), id, wide_from_local(text).c_str());
}

// Only messages that carry no text pass here (the icon messages, the limit of
// an edit), so the message goes to the Unicode window unchanged.
intptr_t PLATFORM_API send_message(Window window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return ::SendMessageW(window_of(window), message, wparam, lparam);
}

Bool PLATFORM_API set_window_text(Window window, const char* text) {
  return ::SetWindowTextW(window_of(window), wide_from_local(text).c_str());
}

Handle PLATFORM_API load_icon(Handle instance, uintptr_t resource_id) {
  return ::LoadIconW(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEW(resource_id));
}

intptr_t PLATFORM_API dialog_box_param(Handle instance, uintptr_t resource_id, Window owner, DialogProcedure procedure,
                                       intptr_t init_param) {
  return ::DialogBoxParamW(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEW(resource_id), window_of(owner),
                           reinterpret_cast<DLGPROC>(procedure), init_param);
}

}  // namespace platform
