#include "platform/linux/gtk_session.h"

#include <gtk/gtk.h>

namespace platform {

bool start_gtk() {
  static const bool ready = [] {
    // Unless GTK was already started elsewhere, when it is too late to ask.
    if (!gdk_display_get_default()) gtk_disable_setlocale();
    return gtk_init_check(nullptr, nullptr) != FALSE;
  }();
  return ready;
}

}  // namespace platform
