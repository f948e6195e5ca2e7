#include "app/main_dialog.h"

#include "app/download_novel.h"
#include "runtime/binding.h"
#include "runtime/memory.h"
#include "runtime/text_commands.h"

platform::Handle g_icon = nullptr;
int32_t g_busy = 0;

namespace {

constexpr int32_t routine = 0x0401000B;
// The address box takes at most this many characters, what the download
// command reads of it; it scrolls, so a long address stays whole.
constexpr uintptr_t longest_address = 255;

ApiSlot<platform::Bool(PLATFORM_API*)(platform::Window, intptr_t)> end_dialog("user32", "EndDialog");

}  // namespace

intptr_t PLATFORM_API main_dialog_proc(platform::Window window, uint32_t message, uintptr_t wparam, intptr_t) {
  if (message == platform::message_init_dialog) {
    const auto icon = reinterpret_cast<intptr_t>(g_icon);
    os_call(Location{routine, 1}, platform::send_message, window, platform::message_set_icon, platform::icon_small,
            icon);
    os_call(Location{routine, 2}, platform::send_message, window, platform::message_set_icon, platform::icon_big, icon);
    const platform::Window address_box =
        os_call(Location{routine, 4}, platform::get_dialog_item, window, int32_t{UrlBox});
    os_call(Location{routine, 5}, platform::send_message, address_box, platform::message_limit_text, longest_address,
            intptr_t{0});
    // TRUE: the dialog manager gives the focus to the first tab stop, UrlBox.
    return 1;
  }
  if (message == platform::message_command) {
    // The control id is the low word; the notification code is not looked at,
    // so Enter (id 1), Escape (id 2) and UrlBox's edit notifications do nothing.
    const ArgCell cells[] = {cell_int(static_cast<int32_t>(wparam)), cell_int(0xFFFF)};
    if (bit_and(2, cells) == DownloadButton) download_novel(window);
    return 1;
  }
  if (message == platform::message_close) {
    // A download that is running goes on to its end; the dialog manager returns
    // from dialog_box_param once control is back in its own loop.
    os_call(Location{routine, 3}, end_dialog.get(), window, intptr_t{0});
    // While the table of contents is read there is nothing to save yet, and its
    // fetches and retries could keep the hidden program running for minutes:
    // the program ends now.
    if (download_reads_contents()) runtime_exit(0);
    return 1;
  }
  if (message == platform::message_size) return 1;
  return 0;
}
