#include "app/main_dialog.h"

#include "app/download_novel.h"
#include "runtime/binding.h"
#include "runtime/text_commands.h"

os::Handle g_icon = nullptr;
int32_t g_busy = 0;

namespace {

constexpr int32_t routine = 0x0401000B;
// The address box takes at most this many characters, what the download
// command reads of it; it scrolls, so a long address stays whole.
constexpr uintptr_t longest_address = 255;

ApiSlot<os::Bool(OS_API*)(os::Window, intptr_t)> end_dialog("user32", "EndDialog");

}  // namespace

intptr_t OS_API main_dialog_proc(os::Window window, uint32_t message, uintptr_t wparam, intptr_t) {
  if (message == os::WM_INITDIALOG) {
    const auto icon = reinterpret_cast<intptr_t>(g_icon);
    os_call(Location{routine, 1}, os::SendMessageA, window, os::WM_SETICON, os::ICON_SMALL, icon);
    os_call(Location{routine, 2}, os::SendMessageA, window, os::WM_SETICON, os::ICON_BIG, icon);
    const os::Window address_box = os_call(Location{routine, 4}, os::GetDlgItem, window, int32_t{UrlBox});
    os_call(Location{routine, 5}, os::SendMessageA, address_box, os::EM_LIMITTEXT, longest_address, intptr_t{0});
    // TRUE: the dialog manager gives the focus to the first tab stop, UrlBox.
    return 1;
  }
  if (message == os::WM_COMMAND) {
    // The control id is the low word; the notification code is not looked at,
    // so Enter (id 1), Escape (id 2) and UrlBox's edit notifications do nothing.
    const ArgCell cells[] = {cell_int(static_cast<int32_t>(wparam)), cell_int(0xFFFF)};
    if (bit_and(2, cells) == DownloadButton) download_novel(window);
    return 1;
  }
  if (message == os::WM_CLOSE) {
    // A download that is running goes on to its end; the dialog manager returns
    // from DialogBoxParamA once control is back in its own loop.
    os_call(Location{routine, 3}, end_dialog.get(), window, intptr_t{0});
    return 1;
  }
  if (message == os::WM_SIZE) return 1;
  return 0;
}
