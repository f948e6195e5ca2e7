// The Win32-shaped calls that the program's own routines make to the operating
// system: the dialog, message boxes, module handles. On Windows they are thin
// wrappers over the wide-character Win32 calls (texts stay in code page 936
// inside the program and are converted to UTF-16 here, so the dialog reads the
// same on a Windows of any language); on Linux the same calls are served by GTK,
// with texts converted to UTF-8. Program code calls them through os_call
// (runtime/binding.h), which checks the stack after each call on i686.
#pragma once

#include <cstdint>

#if defined(__i386__)
#define OS_API __attribute__((stdcall))
#else
#define OS_API
#endif

namespace os {

using Window = void*;
using Handle = void*;
using Bool = int32_t;
using DialogProcedure = intptr_t(OS_API*)(Window window, uint32_t message, uintptr_t wparam, intptr_t lparam);

constexpr uint32_t WM_SIZE = 5;
constexpr uint32_t WM_CLOSE = 16;
constexpr uint32_t WM_QUIT = 18;
constexpr uint32_t WM_SETICON = 128;
constexpr uint32_t WM_INITDIALOG = 272;
constexpr uint32_t WM_COMMAND = 273;
constexpr uint32_t EM_LIMITTEXT = 0x00C5;
constexpr uintptr_t ICON_SMALL = 0;
constexpr uintptr_t ICON_BIG = 1;
constexpr uint32_t MB_ICONERROR = 0x10;

Window OS_API GetDlgItem(Window dialog, int32_t id);
// Copies at most size - 1 bytes of the control's text and a terminator.
uint32_t OS_API GetDlgItemTextA(Window dialog, int32_t id, char* buffer, int32_t size);
Bool OS_API SetDlgItemTextA(Window dialog, int32_t id, const char* text);
// The caption of a window (the dialog's title bar).
Bool OS_API SetWindowTextA(Window window, const char* text);
intptr_t OS_API SendMessageA(Window window, uint32_t message, uintptr_t wparam, intptr_t lparam);
Handle OS_API GetModuleHandleA(const char* name);
Handle OS_API LoadIconA(Handle instance, uintptr_t resource_id);
// Shows dialog template resource_id modally; returns when the dialog has ended.
intptr_t OS_API DialogBoxParamA(Handle instance, uintptr_t resource_id, Window owner, DialogProcedure procedure,
                                intptr_t init_param);
int32_t OS_API MessageBoxA(Window owner, const char* text, const char* caption, uint32_t style);

// Served on Linux by the platform layer's built-in "user32" and "kernel32"
// modules, which the binder consults before dlopen. Program code never calls these
// directly: it binds them through an ApiSlot, as it does on Windows.
Bool OS_API EndDialog(Window dialog, intptr_t result);
Bool OS_API EnableWindow(Window window, Bool enable);
Bool OS_API CloseHandle(Handle handle);

// Tests replace the message box with an observer (the box would wait for a click).
using MessageBoxObserver = void (*)(const char* text, const char* caption, uint32_t style);
extern MessageBoxObserver g_message_box_observer;

}  // namespace os
