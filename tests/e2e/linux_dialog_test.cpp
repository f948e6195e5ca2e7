// The Linux dialog layer under a real X server (the test runs under Xvfb): the
// dialog of template 1000 as GTK builds it, the dialog calls the program makes,
// the messages a user's actions turn into, the nested loop of a download, and
// the end of the program when the close box is pressed.
#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "platform/os.h"
#include "resources/main_dialog_layout.h"
#include "runtime/memory.h"
#include "runtime/threads.h"

namespace {

// Texts of the dialog in code page 936.
const char* const label_text = "\xd0\xa1\xcb\xb5\xb5\xd8\xd6\xb7:";  // 小说地址:
const char* const button_text = "\xcf\xc2\xd4\xd8\xd0\xa1\xcb\xb5";  // 下载小说
const char* const help_text =                                        // the help text
    "    \xc7\xeb\xb0\xd1\xd0\xe8\xd2\xaa\xcf\xc2\xd4\xd8\xd0\xa1\xcb\xb5\xc4\xbf\xc2\xbc\xb5\xc4\xcd\xea\xd5\xfb"
    "\xb5\xd8\xd6\xb7\xb8\xb4\xd6\xc6\xb5\xbd\xd0\xa1\xcb\xb5\xb5\xd8\xd6\xb7\xd6\xd0\xa3\xac\xb0\xfc\xc0\xa8"
    "\xc7\xb0\xc3\xe6\xb5\xc4http://\xbb\xf2https://\xa1\xa3";

struct Message {
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
};

// What the test procedure saw, and what it runs once the dialog is on screen.
std::vector<Message> g_messages;
std::function<void(platform::Window)> g_script;
std::function<void(platform::Window, uintptr_t)> g_on_command;
bool g_end_on_close = false;  // the procedure ends the dialog with 5 on message_close
platform::Window g_window = nullptr;

void pump_until(const std::function<bool()>& done, int milliseconds = 3000) {
  const gint64 until = g_get_monotonic_time() + milliseconds * 1000;
  while (!done() && g_get_monotonic_time() < until) g_main_context_iteration(nullptr, FALSE), g_usleep(1000);
}

void pump_a_little() {
  pump_until([] { return false; }, 100);
}

GtkWidget* widget(platform::Window window) { return static_cast<GtkWidget*>(window); }

gboolean run_script(gpointer) {
  g_source_destroy(g_main_current_source());  // runs once, though its source may be re-entered
  GtkWidget* window = widget(g_window);
  pump_until([&] { return gtk_widget_get_mapped(window) && gtk_widget_get_allocated_width(window) > 1; });
  pump_a_little();
  g_script(g_window);
  return G_SOURCE_REMOVE;
}

intptr_t PLATFORM_API test_procedure(platform::Window window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  g_messages.push_back({message, wparam, lparam});
  if (message == platform::message_init_dialog) {
    g_window = window;
    // The script acts as the user does, whose events come from GDK's event
    // source, which may be re-entered: what it does reaches the procedure at once.
    GSource* source = g_idle_source_new();
    g_source_set_can_recurse(source, TRUE);
    g_source_set_callback(source, run_script, nullptr, nullptr);
    g_source_attach(source, nullptr);
    g_source_unref(source);
    return 1;
  }
  if (message == platform::message_command && g_on_command) g_on_command(window, wparam);
  if (message == platform::message_close && g_end_on_close) platform::end_dialog(window, 5);
  return message == platform::message_command || message == platform::message_close ? 1 : 0;
}

intptr_t show_dialog(std::function<void(platform::Window)> script) {
  g_messages.clear();
  g_script = std::move(script);
  return platform::dialog_box_param(reinterpret_cast<platform::Handle>(1), main_dialog_resource, nullptr,
                                    test_procedure, 77);
}

std::string text_of(platform::Window window, int32_t id, int32_t size = 256) {
  std::vector<char> buffer(static_cast<size_t>(size) + 8, '#');
  const uint32_t count = platform::get_dialog_item_text(window, id, buffer.data(), size);
  EXPECT_EQ(count, std::strlen(buffer.data())) << "control " << id;
  return buffer.data();
}

std::vector<uintptr_t> commands() {
  std::vector<uintptr_t> seen;
  for (const Message& m : g_messages)
    if (m.message == platform::message_command) seen.push_back(m.wparam);
  return seen;
}

void send_event(GdkEvent* event, platform::Window window) {
  event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget(window))));
  event->any.send_event = TRUE;
  gtk_main_do_event(event);
  gdk_event_free(event);
}

void press_key(platform::Window window, guint keyval) {
  GdkDisplay* display = gdk_display_get_default();
  for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
    GdkEvent* event = gdk_event_new(type);
    event->key.time = GDK_CURRENT_TIME;
    event->key.keyval = keyval;
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &count)) {
      event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
      event->key.group = static_cast<guint8>(keys[0].group);
      g_free(keys);
    }
    gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
    send_event(event, window);
  }
}

void press_close_box(platform::Window window) { send_event(gdk_event_new(GDK_DELETE), window); }

constexpr uintptr_t command(uint32_t id, uint32_t notification) { return notification << 16 | id; }

TEST(LinuxDialog, ShowsTemplate1000) {
  std::vector<platform::Window> items;
  const intptr_t result = show_dialog([&](platform::Window window) {
    GtkWindow* gtk_window = GTK_WINDOW(widget(window));
    EXPECT_STREQ(gtk_window_get_title(gtk_window), main_dialog_layout.caption);
    EXPECT_FALSE(gtk_window_get_resizable(gtk_window));

    for (int32_t id = 1001; id <= 1004; ++id) items.push_back(platform::get_dialog_item(window, id));
    EXPECT_EQ(platform::get_dialog_item(window, 1005), nullptr);
    EXPECT_EQ(platform::get_dialog_item(reinterpret_cast<platform::Window>(0x1234), 1002), nullptr);
    EXPECT_EQ(text_of(window, 1001), label_text);
    EXPECT_EQ(text_of(window, 1002), "");
    EXPECT_EQ(text_of(window, 1003), button_text);
    EXPECT_EQ(text_of(window, 1004), help_text);
    EXPECT_FALSE(gtk_widget_get_sensitive(widget(items[3]))) << "the status box is disabled";
    EXPECT_TRUE(gtk_widget_get_sensitive(widget(items[1])));

    // Each control sits where the template puts it, scaled from dialog units by
    // the same factor as the client area: the theme does not make any larger.
    GtkWidget* client = gtk_bin_get_child(GTK_BIN(widget(window)));
    const double scale_x = gtk_widget_get_allocated_width(client) / double(main_dialog_layout.width);
    const double scale_y = gtk_widget_get_allocated_height(client) / double(main_dialog_layout.height);
    EXPECT_GT(scale_x, 1.0);
    for (int i = 0; i < 4; ++i) {
      const DialogControlLayout& place = main_dialog_layout.controls[i];
      GtkAllocation a;
      gtk_widget_get_allocation(widget(items[i]), &a);
      SCOPED_TRACE("control " + std::to_string(place.id));
      EXPECT_NEAR(a.x, place.x * scale_x, 1.5);
      EXPECT_NEAR(a.y, place.y * scale_y, 1.5);
      EXPECT_NEAR(a.width, place.width * scale_x, 1.5);
      EXPECT_NEAR(a.height, place.height * scale_y, 1.5);
    }
    EXPECT_EQ(platform::end_dialog(window, 42), 1);
  });
  EXPECT_EQ(result, 42);
  ASSERT_FALSE(g_messages.empty());
  // message_init_dialog comes first, with the first tab stop (the address box) and
  // the caller's parameter.
  EXPECT_EQ(g_messages[0].message, platform::message_init_dialog);
  EXPECT_EQ(g_messages[0].wparam, reinterpret_cast<uintptr_t>(items.at(1)));
  EXPECT_EQ(g_messages[0].lparam, 77);
  EXPECT_TRUE(commands().empty());
}

TEST(LinuxDialog, TextsRoundTripInCodePage936AndAreCutAtWholeCharacters) {
  show_dialog([](platform::Window window) {
    const char* status = "\xb5\xda\xd2\xbb\xd5\xc2\r\n\xd5\xfd\xd4\xda\xb6\xc1\xd0\xa1\xcb\xb5\xa1\xad\xa1\xad\r\n";
    EXPECT_EQ(platform::set_dialog_item_text(window, 1004, status), 1);
    EXPECT_EQ(text_of(window, 1004), status);
    EXPECT_EQ(platform::set_dialog_item_text(window, 1002, "http://127.0.0.1/\xd0\xa1"), 1);
    EXPECT_EQ(text_of(window, 1002), "http://127.0.0.1/\xd0\xa1");
    EXPECT_EQ(platform::set_dialog_item_text(window, 1004, nullptr), 1);
    EXPECT_EQ(text_of(window, 1004), "");

    // A reader gets at most size - 1 bytes and never half a character.
    std::string long_text(254, 'x');
    long_text += "\xb6\xc1\xb6\xc1";
    platform::set_dialog_item_text(window, 1004, long_text.c_str());
    EXPECT_EQ(text_of(window, 1004), std::string(254, 'x'));
    EXPECT_EQ(text_of(window, 1004, 257), long_text.substr(0, 256));
    EXPECT_EQ(text_of(window, 1001, 4), "\xd0\xa1");
    EXPECT_EQ(text_of(window, 1001, 1), "");
    char untouched[4] = "abc";
    EXPECT_EQ(platform::get_dialog_item_text(window, 1001, untouched, 0), 0u);
    EXPECT_STREQ(untouched, "abc");
    EXPECT_EQ(platform::get_dialog_item_text(window, 1009, untouched, 4), 0u);
    EXPECT_STREQ(untouched, "");
    EXPECT_EQ(platform::set_dialog_item_text(reinterpret_cast<platform::Window>(0x1234), 1004, "x"), 0);
    platform::end_dialog(window, 0);
  });
}

TEST(LinuxDialog, IconsAndEnabling) {
  const platform::Handle instance = reinterpret_cast<platform::Handle>(1);
  const platform::Handle icon = platform::load_icon(instance, application_icon_resource);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(platform::load_icon(instance, application_icon_resource), icon);
  EXPECT_EQ(platform::load_icon(instance, 130), nullptr);
  EXPECT_EQ(platform::load_icon(nullptr, application_icon_resource), nullptr);
  show_dialog([&](platform::Window window) {
    GtkWindow* gtk_window = GTK_WINDOW(widget(window));
    const auto as_value = reinterpret_cast<intptr_t>(icon);
    EXPECT_EQ(platform::send_message(window, platform::message_set_icon, platform::icon_small, as_value), 0);
    EXPECT_EQ(platform::send_message(window, platform::message_set_icon, platform::icon_big, as_value), 0);
    EXPECT_EQ(platform::send_message(window, platform::message_set_icon, platform::icon_big, as_value), as_value);
    GList* icons = gtk_window_get_icon_list(gtk_window);
    ASSERT_EQ(g_list_length(icons), 1u);
    EXPECT_EQ(gdk_pixbuf_get_width(GDK_PIXBUF(icons->data)), 16);
    g_list_free(icons);
    EXPECT_EQ(platform::send_message(window, platform::message_set_icon, platform::icon_small, 0x4321), 0)
        << "a foreign icon is refused";
    EXPECT_EQ(platform::send_message(window, platform::message_set_icon, platform::icon_small, 0), as_value);

    platform::Window button = platform::get_dialog_item(window, 1003);
    EXPECT_EQ(platform::enable_window(button, 0), 0) << "was enabled";
    EXPECT_FALSE(gtk_widget_get_sensitive(widget(button)));
    EXPECT_EQ(platform::enable_window(button, 0), 1) << "was disabled";
    EXPECT_EQ(platform::enable_window(button, 1), 1);
    EXPECT_TRUE(gtk_widget_get_sensitive(widget(button)));
    EXPECT_EQ(platform::enable_window(platform::get_dialog_item(window, 1004), 0), 1)
        << "the status box starts disabled";
    EXPECT_EQ(platform::enable_window(reinterpret_cast<platform::Window>(0x1234), 1), 0);
    platform::end_dialog(window, 0);
  });
}

TEST(LinuxDialog, UserActionsBecomeTheMessagesOfWindows) {
  show_dialog([](platform::Window window) {
    GtkWidget* entry = widget(platform::get_dialog_item(window, 1002));
    GtkWidget* button = widget(platform::get_dialog_item(window, 1003));
    ASSERT_TRUE(gtk_widget_has_focus(entry)) << "the address box has the focus";

    press_key(window, GDK_KEY_Escape);
    press_key(window, GDK_KEY_Return);
    EXPECT_EQ(commands(), (std::vector<uintptr_t>{command(2, 0), command(1, 0)}));
    EXPECT_TRUE(gtk_widget_get_visible(widget(window)));

    g_messages.clear();
    gint position = 0;
    gtk_editable_insert_text(GTK_EDITABLE(entry), "http://", -1, &position);
    EXPECT_EQ(commands(), (std::vector<uintptr_t>{command(1002, 0x0300)})) << "EN_CHANGE";
    EXPECT_EQ(text_of(window, 1002), "http://");

    g_messages.clear();
    gtk_button_clicked(GTK_BUTTON(button));
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0].wparam, command(1003, 0));
    EXPECT_EQ(g_messages[0].lparam, reinterpret_cast<intptr_t>(button));

    // Enter on the focused button presses it.
    g_messages.clear();
    gtk_widget_grab_focus(button);
    press_key(window, GDK_KEY_Return);
    pump_until([] { return !commands().empty(); });
    EXPECT_EQ(commands(), (std::vector<uintptr_t>{command(1003, 0)}));

    g_messages.clear();
    press_close_box(window);
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0].message, platform::message_close);
    EXPECT_TRUE(gtk_widget_get_visible(widget(window))) << "the procedure decides whether the dialog ends";
    platform::end_dialog(window, 0);
  });
}

TEST(LinuxDialog, TheAddressBoxScrollsAndStopsAtItsLimit) {
  show_dialog([](platform::Window window) {
    const platform::Window box = platform::get_dialog_item(window, 1002);
    GtkWidget* entry = widget(box);
    EXPECT_EQ(platform::send_message(box, platform::message_limit_text, 255, 0), 1);
    gint position = 0;
    const std::string long_text(400, 'W');
    gtk_editable_insert_text(GTK_EDITABLE(entry), long_text.c_str(), -1, &position);
    EXPECT_EQ(text_of(window, 1002), long_text.substr(0, 255)) << "more than the box shows, up to the limit";

    // The limit counts characters, so Chinese text is cut whole.
    gtk_editable_delete_text(GTK_EDITABLE(entry), 0, -1);
    position = 0;
    const std::string chinese = "\xe5\xb0\x8f\xe8\xaf\xb4";  // 小说 in UTF-8
    std::string many;
    for (int i = 0; i < 150; ++i) many += chinese;
    gtk_editable_insert_text(GTK_EDITABLE(entry), many.c_str(), -1, &position);
    EXPECT_EQ(g_utf8_strlen(gtk_entry_get_text(GTK_ENTRY(entry)), -1), 255);
    platform::end_dialog(window, 0);
  });
}

TEST(LinuxDialog, ClosingDuringANestedLoopEndsTheDialogWhenTheCommandReturns) {
  std::vector<std::string> order;
  g_on_command = [&](platform::Window window, uintptr_t wparam) {
    if ((wparam & 0xFFFF) != 1003) return;
    order.push_back("command starts");
    // Like a download: wait in the main context while the dialog is used.
    g_idle_add(
        [](gpointer) {
          press_close_box(g_window);
          return G_SOURCE_REMOVE;
        },
        nullptr);
    pump_until([&] { return !gtk_widget_get_visible(widget(window)); });
    order.push_back("closed while running");
    EXPECT_EQ(platform::set_dialog_item_text(window, 1004, "done"), 1) << "the dialog still answers after end_dialog";
    pump_a_little();
    order.push_back("command ends");
  };
  g_end_on_close = true;
  const intptr_t result = show_dialog(
      [](platform::Window window) { gtk_button_clicked(GTK_BUTTON(widget(platform::get_dialog_item(window, 1003)))); });
  order.push_back("dialog returned");
  g_on_command = nullptr;
  g_end_on_close = false;
  EXPECT_EQ(order,
            (std::vector<std::string>{"command starts", "closed while running", "command ends", "dialog returned"}));
  EXPECT_EQ(result, 5);
}

// Stands for the accessibility bridge's D-Bus connection, whose source GLib
// does not re-enter while it is dispatched: its first request presses the
// download button, as a screen reader does; the later ones must still be
// answered while the command runs.
struct AccessibilityBus {
  int requests = 0;
  bool answering = false;
};

gboolean answer_request(gpointer data) {
  auto* bus = static_cast<AccessibilityBus*>(data);
  bus->answering = true;
  if (bus->requests++ == 0) gtk_button_clicked(GTK_BUTTON(widget(platform::get_dialog_item(g_window, 1003))));
  bus->answering = false;
  return G_SOURCE_CONTINUE;
}

TEST(LinuxDialog, TheAccessibilityBusIsAnsweredWhileACommandItStartedRuns) {
  AccessibilityBus bus;
  int commands_run = 0;
  int answered_meanwhile = -1;
  g_on_command = [&](platform::Window window, uintptr_t wparam) {
    if ((wparam & 0xFFFF) != 1003) return;
    ++commands_run;
    EXPECT_FALSE(bus.answering) << "the request that pressed the button was finished first";
    const int before = bus.requests;
    timed_wait(300, 0);  // as a download waits for its workers
    answered_meanwhile = bus.requests - before;
    platform::end_dialog(window, 0);
  };
  GSource* source = g_timeout_source_new(10);
  show_dialog([&](platform::Window) {
    g_source_set_callback(source, answer_request, &bus, nullptr);
    g_source_attach(source, nullptr);
  });
  g_source_destroy(source);
  g_source_unref(source);
  g_on_command = nullptr;
  EXPECT_EQ(commands_run, 1);
  EXPECT_GT(answered_meanwhile, 5);
}

// The program's own procedure: the close box ends the dialog through the bound
// EndDialog, and the process then ends through the ordered shutdown.
void run_program_until_closed() {
  runtime_startup();
  g_program_cleanup = [] { std::fputs("program cleanup ran\n", stderr); };
  g_icon = platform::load_icon(reinterpret_cast<platform::Handle>(1), application_icon_resource);
  g_timeout_add(
      300,
      [](gpointer) {
        for (GList* item = gtk_window_list_toplevels(); item; item = item->next) {
          GtkWindow* window = GTK_WINDOW(item->data);
          if (g_strcmp0(gtk_window_get_title(window), main_dialog_layout.caption) != 0) continue;
          if (GList* icons = gtk_window_get_icon_list(window)) std::fputs("icons set\n", stderr), g_list_free(icons);
          press_close_box(window);
        }
        return G_SOURCE_REMOVE;
      },
      nullptr);
  platform::dialog_box_param(reinterpret_cast<platform::Handle>(1), main_dialog_resource, nullptr, main_dialog_proc, 0);
  std::fputs("dialog ended\n", stderr);
  runtime_exit(0);
}

TEST(LinuxDialog, CloseBoxEndsTheProgramThroughTheShutdownWithExitCode0) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(run_program_until_closed(), testing::ExitedWithCode(0),
              "icons set\n(.|\n)*dialog ended\n(.|\n)*program cleanup ran");
}

}  // namespace
