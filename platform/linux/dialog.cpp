// The dialog calls of platform/os.h over GTK 3.
//
// dialog_box_param builds the dialog of resources/main_dialog_layout.h as a GTK
// window laid out in pixels worked out from the dialog font as Windows does it,
// and runs the default GLib main context until end_dialog. The dialog procedure
// sees the messages it would see on Windows: WM_INITDIALOG before the window is
// shown, WM_COMMAND with the control id in the low word and the notification in
// the high word (a button click, the address box's changes, Enter as id 1 and
// Escape as id 2, both of which the dialog manager sends on Windows), WM_CLOSE
// from the close box and WM_SIZE when the window is minimised or restored.
//
// The procedure may run a nested loop of the same main context (a download
// waits that way), so it can be re-entered from its own WM_COMMAND: the code
// here keeps no lock and no state across a call of the procedure, and
// end_dialog only marks the dialog as ended; the loop in dialog_box_param leaves
// when control is back there. For the same reason a message that a signal
// causes while an event source that cannot be re-entered is being dispatched
// (a screen reader pressing the button through the accessibility bus) is
// posted rather than sent; see deliver_from_signal.
//
// Handles are the GtkWidget pointers of the dialog window and its controls and
// the pixbuf of the icon. They are only ever compared with the live dialog's
// own, so a stale or foreign handle makes a call fail instead of crashing.
// Texts are code page 936 on this side of the calls and UTF-8 towards GTK.
// Everything runs on the main thread.
#include <gtk/gtk.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/gtk_session.h"
#include "platform/code_pages.h"
#include "platform/dialog_support.h"
#include "platform/os.h"
#include "resources/book_icon.h"
#include "resources/main_dialog_layout.h"

namespace platform {

namespace {

// The Win32 values of the command ids, notifications and sizes the dialog sends.
constexpr uint32_t command_id_ok = 1;      // IDOK: Enter outside a push button
constexpr uint32_t command_id_cancel = 2;  // IDCANCEL: Escape
constexpr uint32_t button_clicked = 0;     // BN_CLICKED
constexpr uint32_t edit_change = 0x0300;   // EN_CHANGE
constexpr uintptr_t size_restored = 0;     // SIZE_RESTORED
constexpr uintptr_t size_minimized = 1;    // SIZE_MINIMIZED
constexpr uintptr_t icon_small2 = 2;       // ICON_SMALL2

struct Dialog;

struct Control {
  Dialog* dialog;
  const DialogControlLayout* layout;
  GtkWidget* widget;       // what sits in the dialog, and the control's handle
  GtkWidget* text_widget;  // the label, entry, button or text view inside it
};

struct Dialog {
  GtkWidget* window = nullptr;
  DialogProcedure procedure = nullptr;
  std::vector<Control> controls;
  std::array<Handle, 2> icons{};  // small, big
  std::vector<GSource*> posted;   // messages not yet delivered, one source each (a reference held)
  bool ended = false;
  intptr_t result = 0;
};

// The dialogs that are open, innermost last. Main thread only.
std::vector<Dialog*> open_dialogs;

Dialog* dialog_of(Window window) {
  for (Dialog* dialog : open_dialogs)
    if (dialog->window == window) return dialog;
  return nullptr;
}

Control* control_of(Window window) {
  for (Dialog* dialog : open_dialogs)
    for (Control& control : dialog->controls)
      if (control.widget == window) return &control;
  return nullptr;
}

Control* control_by_id(Dialog* dialog, int32_t id) {
  if (!dialog) return nullptr;
  for (Control& control : dialog->controls)
    if (control.layout->id == id) return &control;
  return nullptr;
}

intptr_t deliver(Dialog* dialog, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (!dialog->procedure) return 0;
  return dialog->procedure(dialog->window, message, wparam, lparam);
}

// A message posted to the procedure, owned by the source that delivers it.
struct PostedMessage {
  Dialog* dialog;
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
};

gboolean deliver_posted(gpointer data) {
  const PostedMessage posted = *static_cast<PostedMessage*>(data);
  // Delivered once: the source may be re-entered by the loops the procedure
  // runs, so it goes before the procedure is called. The context keeps it
  // alive until this dispatch returns.
  GSource* source = g_main_current_source();
  g_source_destroy(source);
  std::vector<GSource*>& pending = posted.dialog->posted;
  pending.erase(std::find(pending.begin(), pending.end(), source));
  g_source_unref(source);
  deliver(posted.dialog, posted.message, posted.wparam, posted.lparam);
  return G_SOURCE_REMOVE;
}

// Delivers a message that a signal of the dialog or a control causes.
//
// The procedure may run a nested loop for as long as a download lasts, and
// GLib does not dispatch a source again while it is being dispatched unless the
// source allows it: a procedure called from inside such a source would leave
// that source unserved until it returns. The accessibility bridge's D-Bus
// connection is such a source (and libdbus cannot dispatch a connection from
// inside its own dispatch anyway), so a button pressed by a screen reader would
// leave every later accessibility request unanswered for the whole download.
// There the message is posted, as an accessibility client's invoke is
// asynchronous on Windows: the request is finished first, and the procedure
// runs at the next turn of the loop from a source of this module's own. That
// source may be re-entered, so what the procedure's own calls cause reaches it
// at once. Signals of window-system events (GDK's event source may be
// re-entered) and of calls made outside any dispatch are sent, as on Windows.
void deliver_from_signal(Dialog* dialog, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  GSource* current = g_main_current_source();
  if (!current || g_source_get_can_recurse(current)) {
    deliver(dialog, message, wparam, lparam);
    return;
  }
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_can_recurse(source, TRUE);
  g_source_set_callback(source, deliver_posted, new PostedMessage{dialog, message, wparam, lparam},
                        [](gpointer data) { delete static_cast<PostedMessage*>(data); });
  dialog->posted.push_back(source);
  g_source_attach(source, nullptr);
}

void deliver_command(Dialog* dialog, uint32_t id, uint32_t notification, GtkWidget* from) {
  deliver_from_signal(dialog, message_command, (notification << 16) | (id & 0xFFFF), reinterpret_cast<intptr_t>(from));
}

// ---- The icon ------------------------------------------------------------

GdkPixbuf* book_icon() {
  static GdkPixbuf* const icon = [] {
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, book_icon_size, book_icon_size);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < book_icon_size; ++y) {
      for (int x = 0; x < book_icon_size; ++x) {
        const uint32_t argb = book_icon_pixels[y * book_icon_size + x];
        guchar* pixel = pixels + y * stride + x * 4;
        pixel[0] = static_cast<guchar>(argb >> 16);
        pixel[1] = static_cast<guchar>(argb >> 8);
        pixel[2] = static_cast<guchar>(argb);
        pixel[3] = static_cast<guchar>(argb >> 24);
      }
    }
    return pixbuf;
  }();
  return icon;
}

void show_icons(Dialog* dialog) {
  GList* list = nullptr;
  for (Handle icon : dialog->icons)
    if (icon && !g_list_find(list, icon)) list = g_list_append(list, icon);
  gtk_window_set_icon_list(GTK_WINDOW(dialog->window), list);
  g_list_free(list);
}

// ---- Font and layout -------------------------------------------------------

// The faces tried after the template's own: its usual Latin name, then a
// Chinese face that Debian ships, so that Chinese never shows as empty boxes
// where the template's face is missing.
constexpr const char* fallback_faces[] = {"SimSun", "WenQuanYi Micro Hei"};

// The template's face and the fallbacks, each quoted, separated by separator.
std::string font_families(const DialogLayout& layout, const char* quote, const char* separator) {
  std::string families = std::string(quote) + layout.font_face + quote;
  for (const char* face : fallback_faces) families += separator + std::string(quote) + face + quote;
  return families;
}

std::string dialog_css(const DialogLayout& layout) {
  const std::string font = "font-family: " + font_families(layout, "\"", ", ") +
                           ", sans-serif; font-size: " + std::to_string(layout.font_points) +
                           "pt; font-weight: " + std::to_string(layout.font_weight) +
                           "; font-style: " + (layout.font_italic ? "italic" : "normal") + ";";
  // The theme's minimum sizes and paddings would make the controls larger than
  // the template says; the template's sizes win.
  return "* { " + font +
         " }\n"
         "entry { min-height: 0; padding: 0 3px; border-radius: 0; }\n"
         "button { min-height: 0; min-width: 0; padding: 0; border-radius: 0; }\n"
         "scrolledwindow { border-radius: 0; }\n"
         "textview text { padding: 1px 2px; }\n";
}

void apply_style(GtkWidget* widget, GtkCssProvider* provider) {
  gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(provider),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

DialogBaseUnits font_base_units(GtkWidget* window, const DialogLayout& layout) {
  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, font_families(layout, "", ",").c_str());
  pango_font_description_set_size(font, layout.font_points * PANGO_SCALE);
  pango_font_description_set_weight(font, static_cast<PangoWeight>(layout.font_weight));
  pango_font_description_set_style(font, layout.font_italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);

  PangoLayout* letters = gtk_widget_create_pango_layout(window, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  pango_layout_set_font_description(letters, font);
  int width = 0;
  pango_layout_get_pixel_size(letters, &width, nullptr);
  PangoFontMetrics* metrics =
      pango_context_get_metrics(pango_layout_get_context(letters), font, pango_language_get_default());
  const int font_height =
      PANGO_PIXELS_CEIL(pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics));
  pango_font_metrics_unref(metrics);
  g_object_unref(letters);
  pango_font_description_free(font);
  return dialog_base_units(width, font_height);
}

// ---- Signals -------------------------------------------------------------

gboolean on_delete(GtkWidget*, GdkEvent*, gpointer data) {
  deliver_from_signal(static_cast<Dialog*>(data), message_close, 0, 0);
  return TRUE;  // the window stays until the procedure ends the dialog
}

gboolean on_key_press(GtkWidget*, GdkEventKey* event, gpointer data) {
  auto* dialog = static_cast<Dialog*>(data);
  switch (event->keyval) {
    case GDK_KEY_Escape: deliver_command(dialog, command_id_cancel, button_clicked, nullptr); return TRUE;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter: {
      // A push button with the focus presses itself, as on Windows.
      GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(dialog->window));
      if (focus && GTK_IS_BUTTON(focus)) return FALSE;
      deliver_command(dialog, command_id_ok, button_clicked, nullptr);
      return TRUE;
    }
    default: return FALSE;
  }
}

gboolean on_window_state(GtkWidget*, GdkEventWindowState* event, gpointer data) {
  auto* dialog = static_cast<Dialog*>(data);
  if (!(event->changed_mask & GDK_WINDOW_STATE_ICONIFIED)) return FALSE;
  if (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) {
    deliver_from_signal(dialog, message_size, size_minimized, 0);
  } else {
    GtkAllocation area;
    gtk_widget_get_allocation(gtk_bin_get_child(GTK_BIN(dialog->window)), &area);
    deliver_from_signal(dialog, message_size, size_restored, (area.height << 16) | (area.width & 0xFFFF));
  }
  return FALSE;
}

void on_clicked(GtkButton*, gpointer data) {
  auto* control = static_cast<Control*>(data);
  deliver_command(control->dialog, static_cast<uint32_t>(control->layout->id), button_clicked, control->widget);
}

void on_changed(GtkEditable*, gpointer data) {
  auto* control = static_cast<Control*>(data);
  deliver_command(control->dialog, static_cast<uint32_t>(control->layout->id), edit_change, control->widget);
}

// ---- Building the dialog ---------------------------------------------------

void set_control_text(Control& control, const std::string& utf8) {
  GtkWidget* widget = control.text_widget;
  if (GTK_IS_LABEL(widget)) {
    gtk_label_set_text(GTK_LABEL(widget), utf8.c_str());
  } else if (GTK_IS_ENTRY(widget)) {
    gtk_entry_set_text(GTK_ENTRY(widget), utf8.c_str());
  } else if (GTK_IS_BUTTON(widget)) {
    gtk_button_set_label(GTK_BUTTON(widget), utf8.c_str());
  } else {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(widget));
    gtk_text_buffer_set_text(buffer, utf8.c_str(), -1);
    GtkTextIter start;
    gtk_text_buffer_get_start_iter(buffer, &start);
    gtk_text_buffer_place_cursor(buffer, &start);
  }
}

std::string control_text(const Control& control) {
  GtkWidget* widget = control.text_widget;
  if (GTK_IS_LABEL(widget)) return gtk_label_get_text(GTK_LABEL(widget));
  if (GTK_IS_ENTRY(widget)) return gtk_entry_get_text(GTK_ENTRY(widget));
  if (GTK_IS_BUTTON(widget)) {
    const char* label = gtk_button_get_label(GTK_BUTTON(widget));
    return label ? label : "";
  }
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(widget));
  GtkTextIter start;
  GtkTextIter end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, TRUE);
  std::string result = text;
  g_free(text);
  return result;
}

void make_control(Control& control) {
  const DialogControlLayout& layout = *control.layout;
  switch (layout.control_class) {
    case ControlClass::static_text: {
      GtkWidget* label = gtk_label_new(nullptr);
      gtk_label_set_xalign(GTK_LABEL(label), 0);
      gtk_label_set_yalign(GTK_LABEL(label), 0);
      gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
      control.widget = control.text_widget = label;
      break;
    }
    case ControlClass::button: {
      GtkWidget* button = gtk_button_new();
      gtk_widget_set_focus_on_click(button, TRUE);
      g_signal_connect(button, "clicked", G_CALLBACK(on_clicked), &control);
      control.widget = control.text_widget = button;
      break;
    }
    case ControlClass::edit:
      if (layout.style & edit_style_multiline) {
        GtkWidget* view = gtk_text_view_new();
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
        // No scroll bars and no auto-scroll: what does not fit stays hidden.
        GtkWidget* frame = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(frame), GTK_POLICY_EXTERNAL, GTK_POLICY_EXTERNAL);
        gtk_scrolled_window_set_shadow_type(
            GTK_SCROLLED_WINDOW(frame),
            (layout.extended_style & extended_style_client_edge) ? GTK_SHADOW_IN : GTK_SHADOW_NONE);
        gtk_container_add(GTK_CONTAINER(frame), view);
        control.widget = frame;
        control.text_widget = view;
      } else {
        GtkWidget* entry = gtk_entry_new();
        gtk_entry_set_has_frame(GTK_ENTRY(entry), (layout.extended_style & extended_style_client_edge) != 0);
        gtk_entry_set_width_chars(GTK_ENTRY(entry), 1);
        gtk_entry_set_activates_default(GTK_ENTRY(entry), FALSE);
        control.widget = control.text_widget = entry;
      }
      break;
  }
  set_control_text(control, layout.text);
  if (GTK_IS_ENTRY(control.text_widget)) {
    g_signal_connect(control.text_widget, "changed", G_CALLBACK(on_changed), &control);
  }
  gtk_widget_set_can_focus(control.text_widget, (layout.style & style_tab_stop) && !GTK_IS_LABEL(control.text_widget));
  gtk_widget_set_sensitive(control.widget, !(layout.style & style_disabled));
}

void build(Dialog& dialog, const DialogLayout& layout) {
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, dialog_css(layout).c_str(), -1, nullptr);

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  dialog.window = window;
  apply_style(window, css);
  gtk_window_set_title(GTK_WINDOW(window), layout.caption);
  // Without a sizing border the window keeps the template's size.
  gtk_window_set_resizable(GTK_WINDOW(window), (layout.style & style_thick_frame) != 0);
  gtk_window_set_position(GTK_WINDOW(window), (layout.style & style_center) ? GTK_WIN_POS_CENTER : GTK_WIN_POS_NONE);

  const DialogBaseUnits base = font_base_units(window, layout);
  if (!(layout.style & style_center))
    gtk_window_move(GTK_WINDOW(window), dialog_x_to_pixels(layout.x, base), dialog_y_to_pixels(layout.y, base));
  GtkWidget* client = gtk_fixed_new();
  apply_style(client, css);
  gtk_widget_set_size_request(client, dialog_x_to_pixels(layout.width, base), dialog_y_to_pixels(layout.height, base));
  gtk_container_add(GTK_CONTAINER(window), client);

  dialog.controls.reserve(static_cast<size_t>(layout.control_count));  // signal data points into it
  for (int32_t i = 0; i < layout.control_count; ++i) {
    dialog.controls.push_back(Control{&dialog, &layout.controls[i], nullptr, nullptr});
    Control& control = dialog.controls.back();
    make_control(control);
    apply_style(control.widget, css);
    if (control.text_widget != control.widget) apply_style(control.text_widget, css);
    const DialogControlLayout& place = *control.layout;
    gtk_widget_set_size_request(control.widget, dialog_x_to_pixels(place.width, base),
                                dialog_y_to_pixels(place.height, base));
    gtk_fixed_put(GTK_FIXED(client), control.widget, dialog_x_to_pixels(place.x, base),
                  dialog_y_to_pixels(place.y, base));
  }
  g_object_unref(css);

  // The window manager offers what the window style has: no maximise box and
  // no sizing border here, but a minimise box and a close box.
  gtk_widget_realize(window);
  GdkWindow* frame = gtk_widget_get_window(window);
  int functions = GDK_FUNC_MOVE;
  int decorations = GDK_DECOR_BORDER | GDK_DECOR_TITLE;
  if (layout.style & style_system_menu) functions |= GDK_FUNC_CLOSE, decorations |= GDK_DECOR_MENU;
  if (layout.style & style_minimize_box) functions |= GDK_FUNC_MINIMIZE, decorations |= GDK_DECOR_MINIMIZE;
  if (layout.style & style_maximize_box) functions |= GDK_FUNC_MAXIMIZE, decorations |= GDK_DECOR_MAXIMIZE;
  if (layout.style & style_thick_frame) functions |= GDK_FUNC_RESIZE, decorations |= GDK_DECOR_RESIZEH;
  gdk_window_set_functions(frame, static_cast<GdkWMFunction>(functions));
  gdk_window_set_decorations(frame, static_cast<GdkWMDecoration>(decorations));

  g_signal_connect(window, "delete-event", G_CALLBACK(on_delete), &dialog);
  g_signal_connect(window, "key-press-event", G_CALLBACK(on_key_press), &dialog);
  g_signal_connect(window, "window-state-event", G_CALLBACK(on_window_state), &dialog);
}

void destroy(Dialog& dialog) {
  // Messages still posted go with the window, as they do on Windows.
  for (GSource* source : dialog.posted) {
    g_source_destroy(source);
    g_source_unref(source);
  }
  dialog.posted.clear();
  for (Control& control : dialog.controls) g_signal_handlers_disconnect_by_data(control.text_widget, &control);
  g_signal_handlers_disconnect_by_data(dialog.window, &dialog);
  gtk_widget_destroy(dialog.window);
}

GtkWidget* first_tab_stop(Dialog& dialog) {
  for (Control& control : dialog.controls)
    if (gtk_widget_get_can_focus(control.text_widget) && gtk_widget_is_sensitive(control.widget)) return control.widget;
  return nullptr;
}

}  // namespace

Window PLATFORM_API get_dialog_item(Window dialog, int32_t id) {
  Control* control = control_by_id(dialog_of(dialog), id);
  return control ? control->widget : nullptr;
}

uint32_t PLATFORM_API get_dialog_item_text(Window dialog, int32_t id, char* buffer, int32_t size) {
  if (!buffer || size <= 0) return 0;
  buffer[0] = 0;
  Control* control = control_by_id(dialog_of(dialog), id);
  if (!control) return 0;
  const std::string local = utf8_to_local_string(control_text(*control));
  const size_t count = local_text_fit(local.data(), local.size(), static_cast<size_t>(size) - 1);
  std::memcpy(buffer, local.data(), count);
  buffer[count] = 0;
  return static_cast<uint32_t>(count);
}

Bool PLATFORM_API set_dialog_item_text(Window dialog, int32_t id, const char* text) {
  Control* control = control_by_id(dialog_of(dialog), id);
  if (!control) return 0;
  set_control_text(*control, local_to_utf8(text ? text : ""));
  return 1;
}

intptr_t PLATFORM_API send_message(Window window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (message == message_limit_text) {
    // A limit of 0 is the largest there is, as on Windows; GTK counts characters.
    Control* control = control_of(window);
    if (!control || !GTK_IS_ENTRY(control->text_widget)) return 0;
    const gint most = wparam == 0 || wparam > 65535 ? 65535 : static_cast<gint>(wparam);
    gtk_entry_set_max_length(GTK_ENTRY(control->text_widget), most);
    return 1;
  }
  Dialog* dialog = dialog_of(window);
  if (!dialog || message != message_set_icon || wparam > icon_small2) return 0;
  auto* icon = reinterpret_cast<Handle>(lparam);
  if (icon && icon != book_icon()) return 0;
  Handle& slot = dialog->icons[wparam == icon_big ? 1 : 0];
  const Handle previous = slot;
  slot = icon;
  show_icons(dialog);
  return reinterpret_cast<intptr_t>(previous);
}

Bool PLATFORM_API set_window_text(Window window, const char* text) {
  Dialog* dialog = dialog_of(window);
  if (!dialog) return 0;
  gtk_window_set_title(GTK_WINDOW(dialog->window), local_to_utf8(text ? text : "").c_str());
  return 1;
}

Handle PLATFORM_API load_icon(Handle instance, uintptr_t resource_id) {
  // The program's own icon is its only icon resource; there are no system icons.
  if (!instance || resource_id != 129) return nullptr;
  return book_icon();
}

intptr_t PLATFORM_API dialog_box_param(Handle, uintptr_t resource_id, Window, DialogProcedure procedure,
                                       intptr_t init_param) {
  const DialogLayout& layout = main_dialog_layout;
  if (resource_id != layout.resource_id || !start_gtk()) return -1;

  Dialog dialog;
  dialog.procedure = procedure;
  build(dialog, layout);
  open_dialogs.push_back(&dialog);

  GtkWidget* focus = first_tab_stop(dialog);
  if (deliver(&dialog, message_init_dialog, reinterpret_cast<uintptr_t>(focus), init_param) && focus)
    gtk_widget_grab_focus(GTK_IS_SCROLLED_WINDOW(focus) ? gtk_bin_get_child(GTK_BIN(focus)) : focus);
  if (!dialog.ended) gtk_widget_show_all(dialog.window);
  while (!dialog.ended) g_main_context_iteration(nullptr, TRUE);

  open_dialogs.erase(std::find(open_dialogs.begin(), open_dialogs.end(), &dialog));
  destroy(dialog);
  return dialog.result;
}

Bool PLATFORM_API end_dialog(Window dialog_window, intptr_t result) {
  Dialog* dialog = dialog_of(dialog_window);
  if (!dialog) return 0;
  dialog->ended = true;
  dialog->result = result;
  // Gone from the screen at once; dialog_box_param returns when control is back
  // in its loop, after any download that is still running has finished.
  gtk_widget_hide(dialog->window);
  g_main_context_wakeup(nullptr);
  return 1;
}

Bool PLATFORM_API enable_window(Window window, Bool enable) {
  GtkWidget* widget = nullptr;
  if (Control* control = control_of(window))
    widget = control->widget;
  else if (Dialog* dialog = dialog_of(window))
    widget = dialog->window;
  if (!widget) return 0;
  const bool was_disabled = !gtk_widget_get_sensitive(widget);
  gtk_widget_set_sensitive(widget, enable != 0);
  return was_disabled ? 1 : 0;
}

}  // namespace platform
