// MainDialog: the program's one window, dialog template 1000, and its dialog
// procedure.
//
// main_dialog_proc routes the few messages the dialog needs: on
// message_init_dialog it gives the window the application icon, a click on
// DownloadButton runs the whole download (download_novel, which returns only
// when it has finished), and the close box ends the dialog through the user32
// EndDialog entry bound at first use (and the program at once while a download
// reads its table of contents).
// Everything runs on the main thread, but the procedure is re-entered while a
// download waits and keeps the dialog answering: nothing here assumes it is not
// nested.
#pragma once

#include <cstdint>

#include "platform/os.h"

// The dialog template and the application icon in the program's resources.
inline constexpr uintptr_t main_dialog_resource = 1000;
inline constexpr uintptr_t application_icon_resource = 129;

// The controls of MainDialog, by id.
enum MainDialogControl : int32_t {
  AddressLabel = 1001,
  UrlBox = 1002,
  DownloadButton = 1003,
  StatusBox = 1004,
};

// The application icon (null when it could not be loaded), loaded once at start
// and never released.
extern platform::Handle g_icon;
// 1 while download_novel runs, else 0.
extern int32_t g_busy;

intptr_t PLATFORM_API main_dialog_proc(platform::Window window, uint32_t message, uintptr_t wparam, intptr_t lparam);
