// A second download command while a download runs, in the Linux program: the
// download button is disabled then, so no user action and no other process can
// send the command; this program sends it the way the dialog manager would
// dispatch it, from inside the running download's wait. It runs the program's
// own dialog procedure on the real dialog and prints what it sees, one line
// each, for download_e2e.py to check:
//
//   linux_second_command ADDRESS
//
//   during STATUS           the status text just after the second command
//   button-during 0|1       whether the button was enabled then
//   final STATUS            the status text once the download has returned
//   busy N                  g_busy then
//   button-after 0|1
// Status texts are printed in UTF-8 with CR and LF escaped.
#include <gtk/gtk.h>

#include <cstdio>
#include <string>

#include "app/main_dialog.h"
#include "novel/book.h"
#include "platform/code_pages.h"
#include "runtime/memory.h"

namespace {

const char* g_address = nullptr;
platform::Window g_window = nullptr;

std::string status_text() {
  char buffer[1024] = {};
  platform::get_dialog_item_text(g_window, StatusBox, buffer, sizeof buffer);
  std::string out;
  for (char c : platform::local_to_utf8(buffer))
    out += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
  return out;
}

bool button_enabled() {
  return gtk_widget_get_sensitive(static_cast<GtkWidget*>(platform::get_dialog_item(g_window, DownloadButton)));
}

gboolean send_second_command(gpointer) {
  main_dialog_proc(g_window, platform::message_command, DownloadButton, 0);
  std::printf("during %s\nbutton-during %d\n", status_text().c_str(), button_enabled() ? 1 : 0);
  std::fflush(stdout);
  return G_SOURCE_REMOVE;
}

gboolean start_download(gpointer) {
  platform::set_dialog_item_text(g_window, UrlBox, g_address);
  // Sent once the download waits for its chapters.
  g_timeout_add(1500, send_second_command, nullptr);
  main_dialog_proc(g_window, platform::message_command, DownloadButton, 0);
  std::printf("final %s\nbusy %d\nbutton-after %d\n", status_text().c_str(), g_busy, button_enabled() ? 1 : 0);
  std::fflush(stdout);
  platform::end_dialog(g_window, 0);
  return G_SOURCE_REMOVE;
}

intptr_t PLATFORM_API procedure(platform::Window window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (message == platform::message_init_dialog) {
    g_window = window;
    g_idle_add(start_download, nullptr);
  }
  return main_dialog_proc(window, message, wparam, lparam);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: linux_second_command ADDRESS\n");
    return 2;
  }
  g_address = argv[1];
  runtime_startup();
  create_book();
  g_program_cleanup = release_book;
  platform::dialog_box_param(platform::get_module_handle(nullptr), main_dialog_resource, nullptr, procedure, 0);
  runtime_exit(0);
}
