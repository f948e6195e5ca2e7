// Message boxes on Linux: a modal GTK message dialog when a display can be
// opened, otherwise the caption and text on stderr. Texts arrive in code page
// 936 and are shown in UTF-8.
//
// GTK belongs to the process's first thread. A box asked for on another thread
// (a fatal error on a worker) is shown by the first thread, through the default
// main context, while the asking thread waits for its answer; when GTK was
// never set up, the box goes to stderr from any thread.
#include <gtk/gtk.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/code_pages.h"
#include "platform/linux/gtk_session.h"
#include "platform/os.h"

namespace platform {

MessageBoxObserver g_message_box_observer = nullptr;

namespace {

constexpr int32_t button_ok = 1;  // IDOK: the box was closed with its OK button

bool on_first_thread() { return syscall(SYS_gettid) == getpid(); }

void show_on_stderr(const std::string& text, const std::string& caption) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
}

void show_dialog(const std::string& text, const std::string& caption) {
  GtkWidget* dialog =
      gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), caption.c_str());
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
}

// A box that another thread shows for this one.
struct PendingBox {
  std::string text;
  std::string caption;
  std::mutex lock;
  std::condition_variable answered_signal;
  bool answered = false;
};

gboolean show_pending_box(gpointer data) {
  auto* box = static_cast<PendingBox*>(data);
  show_dialog(box->text, box->caption);
  std::lock_guard<std::mutex> hold(box->lock);
  box->answered = true;
  box->answered_signal.notify_all();
  return G_SOURCE_REMOVE;
}

}  // namespace

int32_t PLATFORM_API message_box(Window, const char* text, const char* caption, uint32_t style) {
  if (g_message_box_observer) {
    g_message_box_observer(text ? text : "", caption ? caption : "", style);
    return button_ok;
  }
  std::string utf8_text = local_to_utf8(text ? text : "");
  std::string utf8_caption = local_to_utf8(caption ? caption : "");
  if (on_first_thread()) {
    if (start_gtk())
      show_dialog(utf8_text, utf8_caption);
    else
      show_on_stderr(utf8_text, utf8_caption);
    return button_ok;
  }
  if (!gdk_display_get_default()) {
    show_on_stderr(utf8_text, utf8_caption);
    return button_ok;
  }
  PendingBox box;
  box.text = std::move(utf8_text);
  box.caption = std::move(utf8_caption);
  g_main_context_invoke(nullptr, show_pending_box, &box);
  std::unique_lock<std::mutex> hold(box.lock);
  box.answered_signal.wait(hold, [&] { return box.answered; });
  return button_ok;
}

}  // namespace platform
