#include "app/download_novel.h"

#include <memory>

#include "app/main_dialog.h"
#include "novel/book.h"
#include "novel/book_state.h"
#include "novel/contents_download.h"
#include "novel/download_chapters.h"
#include "runtime/binding.h"
#include "runtime/texts.h"

namespace {

constexpr int32_t routine = 0x0401012C;
constexpr Location at_get_button{routine, 0x0b};
constexpr Location at_busy_status{routine, 0x1f};
constexpr Location at_disable_button{routine, 0x2a};
constexpr Location at_read_address{routine, 0x47};
constexpr Location at_page_error_status{routine, 0x8d};
constexpr Location at_contents_status{routine, 0xc4};
constexpr Location at_read_status{routine, 0xe2};
constexpr Location at_final_status{routine, 0xf6};
constexpr Location at_enable_button{routine, 0x10b};
constexpr Location at_caption{routine, 0x120};

// Both the address typed in UrlBox and the status text read back are read into
// this many bytes: at most 255 and a terminator.
constexpr int32_t text_buffer_size = 256;

// Status texts, code page 936.
const char* const status_busy = "\xd5\xfd\xd4\xda\xb6\xc1\xd0\xa1\xcb\xb5\r\n";  // 正在读小说
// 网页有误，不能读取
const char* const status_page_error =
    "\r\n\xcd\xf8\xd2\xb3\xd3\xd0\xce\xf3\xa3\xac\xb2\xbb\xc4\xdc\xb6\xc1\xc8\xa1\r\n";
const char* const status_contents_read = "\r\n\xb6\xc1\xc4\xbf\xc2\xbc\xcd\xea\xb3\xc9  \xb9\xb2";  // 读目录完成  共
const char* const status_taken = "\xd5\xc2\r\n\xd2\xd1\xd3\xd0";                                    // 章 / 已有
// 章 / 正在读小说………
const char* const status_reading = "\xd5\xc2\r\n\xd5\xfd\xd4\xda\xb6\xc1\xd0\xa1\xcb\xb5\xa1\xad\xa1\xad\xa1\xad\r\n";
const char* const status_done = "\xb6\xc1\xd0\xa1\xcb\xb5\xcd\xea\xb3\xc9\r\n";               // 读小说完成
const char* const status_not_saved = "\xb1\xa3\xb4\xe6\xd0\xa1\xcb\xb5\xca\xa7\xb0\xdc\r\n";  // 保存小说失败
// 章没有读到正文
const char* const status_without_text = "\xd5\xc2\xc3\xbb\xd3\xd0\xb6\xc1\xb5\xbd\xd5\xfd\xce\xc4\r\n";
const char* const status_incomplete = "\xd5\xc2\xb2\xbb\xcd\xea\xd5\xfb\r\n";  // 章不完整

// The dialog's caption, and while chapters download "小说下载器 - 已读 n/N 章".
const char* const caption = "\xd0\xa1\xcb\xb5\xcf\xc2\xd4\xd8\xc6\xf7";  // 小说下载器
const char* const caption_read = " - \xd2\xd1\xb6\xc1 ";                 // " - 已读 "
const char* const caption_chapters = " \xd5\xc2";                        // " 章"

ApiSlot<platform::Bool(PLATFORM_API*)(platform::Window, platform::Bool)> enable_window("user32", "EnableWindow");

bool g_reading_contents = false;

void set_status(platform::Window window, const char* text, Location at) {
  os_call(at, platform::set_dialog_item_text, window, int32_t{StatusBox}, text);
}

// Reads control id into the buffer (256 bytes and a terminator): at most 255
// bytes of its text, after which the Text ends.
void read_into(platform::Window window, int32_t id, Text& buffer, Location at) {
  os_call(at, platform::get_dialog_item_text, window, id, buffer.get(), text_buffer_size);
}

void set_caption(platform::Window window, const char* text) {
  os_call(at_caption, platform::set_window_text, window, text);
}

// "N" + what, or the empty text when count is 0.
Text count_line(int32_t count, const char* what) { return count > 0 ? join(to_text(count), what) : Text(); }

// Fetches and parses the table of contents, downloads the chapters and shows
// how it went; address holds the typed address and is reused for the status
// text read back at the end.
void download(platform::Window window, Text& address) {
  // One gate paces every request of this download, the table of contents' included.
  const auto gate = std::make_shared<PaceGate>();
  g_reading_contents = true;
  const bool contents_read = download_table_of_contents(address.get(), *gate);
  g_reading_contents = false;
  if (!contents_read) {
    set_status(window, join(address, status_page_error).get(), at_page_error_status);
    return;
  }
  // What the last download of this table of contents left beside the book.
  const PreviousDownload previous = read_previous_download(address.get());
  const Text count = to_text(g_book.chapter_urls.count());
  const Text taken = previous.taken > 0 ? join(status_taken, to_text(previous.taken)) : Text();
  set_status(window, join(g_book.title, status_contents_read, count, taken, status_reading).get(), at_contents_status);

  ChapterDownloadOptions options;
  options.gate = gate;
  options.previous = &previous;
  options.on_wait_step = [window](int32_t finished, int32_t total) {
    set_caption(window, join(caption, caption_read, to_text(finished), "/", to_text(total), caption_chapters).get());
  };
  const ChapterDownloadResult result = download_chapters(options);
  set_caption(window, caption);

  read_into(window, StatusBox, address, at_read_status);
  const char* last_line = result.saved ? status_done : status_not_saved;
  set_status(window,
             join(address, count_line(result.chapters_incomplete, status_incomplete),
                  count_line(result.chapters_without_text, status_without_text), last_line)
                 .get(),
             at_final_status);
}

}  // namespace

bool download_reads_contents() { return g_reading_contents; }

void download_novel(platform::Window window) {
  const platform::Window button = os_call(at_get_button, platform::get_dialog_item, window, int32_t{DownloadButton});
  if (g_busy != 0) {
    // A command that arrives while a download waits for its chapters: the
    // running download goes on untouched.
    set_status(window, status_busy, at_busy_status);
    return;
  }
  os_call(at_disable_button, enable_window.get(), button, platform::Bool{0});
  g_busy = 1;

  Text address = Text::adopt(make_blank_text(text_buffer_size));
  read_into(window, UrlBox, address, at_read_address);
  download(window, address);

  g_busy = 0;
  os_call(at_enable_button, enable_window.get(), button, platform::Bool{1});
}
