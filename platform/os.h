// The calls that the program's own routines make to the operating system for
// the dialog, message boxes and module handles, shaped like the Win32 calls they
// stand for (named in each comment) and with the same values and calling
// convention, under the project's own names. On Windows they are thin wrappers
// over the wide-character Win32 calls (texts stay in code page 936 inside the
// program and are converted to UTF-16 here, so the dialog reads the same on a
// Windows of any language); on Linux the same calls are served by GTK, with
// texts converted to UTF-8. Program code calls them through os_call
// (runtime/binding.h), which checks the stack after each call on i686; that is
// why they are declared PLATFORM_API, the Win32 calling convention (stdcall) on
// i686. No name here is one of <windows.h>, so the headers may be included in
// any order.
#pragma once

#include <cstdint>

#if defined(__i386__)
#define PLATFORM_API __attribute__((stdcall))
#else
#define PLATFORM_API
#endif

namespace platform {

using Window = void*;
using Handle = void*;
using Bool = int32_t;
using DialogProcedure = intptr_t(PLATFORM_API*)(Window window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// Window messages, with the values of the Win32 messages named beside them.
constexpr uint32_t message_size = 5;             // WM_SIZE: minimised, restored or resized
constexpr uint32_t message_close = 16;           // WM_CLOSE
constexpr uint32_t message_quit = 18;            // WM_QUIT
constexpr uint32_t message_set_icon = 128;       // WM_SETICON
constexpr uint32_t message_init_dialog = 272;    // WM_INITDIALOG
constexpr uint32_t message_command = 273;        // WM_COMMAND
constexpr uint32_t message_limit_text = 0x00C5;  // EM_LIMITTEXT, to an edit control
// The icon that message_set_icon sets (ICON_SMALL, ICON_BIG).
constexpr uintptr_t icon_small = 0;
constexpr uintptr_t icon_big = 1;
// The message box style of an error (MB_ICONERROR).
constexpr uint32_t message_box_icon_error = 0x10;

// GetDlgItem.
Window PLATFORM_API get_dialog_item(Window dialog, int32_t id);
// GetDlgItemTextA: copies at most size - 1 bytes of the control's text and a terminator.
uint32_t PLATFORM_API get_dialog_item_text(Window dialog, int32_t id, char* buffer, int32_t size);
// SetDlgItemTextA.
Bool PLATFORM_API set_dialog_item_text(Window dialog, int32_t id, const char* text);
// SetWindowTextA: the caption of a window (the dialog's title bar).
Bool PLATFORM_API set_window_text(Window window, const char* text);
// SendMessageA.
intptr_t PLATFORM_API send_message(Window window, uint32_t message, uintptr_t wparam, intptr_t lparam);
// GetModuleHandleA.
Handle PLATFORM_API get_module_handle(const char* name);
// LoadIconA.
Handle PLATFORM_API load_icon(Handle instance, uintptr_t resource_id);
// DialogBoxParamA: shows dialog template resource_id modally; returns when the
// dialog has ended.
intptr_t PLATFORM_API dialog_box_param(Handle instance, uintptr_t resource_id, Window owner, DialogProcedure procedure,
                                       intptr_t init_param);
// MessageBoxA.
int32_t PLATFORM_API message_box(Window owner, const char* text, const char* caption, uint32_t style);

// EndDialog, EnableWindow (which returns whether the window was disabled
// before) and CloseHandle. Served on Linux by the platform layer's built-in
// "user32" and "kernel32" modules under those Win32 names, which the binder
// consults before dlopen. Program code never calls these directly: it binds them
// through an ApiSlot, as it does on Windows.
Bool PLATFORM_API end_dialog(Window dialog, intptr_t result);
Bool PLATFORM_API enable_window(Window window, Bool enable);
Bool PLATFORM_API close_handle(Handle handle);

// Tests replace the message box with an observer (the box would wait for a click).
using MessageBoxObserver = void (*)(const char* text, const char* caption, uint32_t style);
extern MessageBoxObserver g_message_box_observer;

}  // namespace platform
