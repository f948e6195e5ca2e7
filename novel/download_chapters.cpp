#include "novel/download_chapters.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string_view>

#include "novel/book.h"
#include "novel/book_file_name.h"
#include "novel/extract_chapter.h"
#include "runtime/files.h"
#include "runtime/support_modules.h"
#include "runtime/threads.h"

namespace {

constexpr int32_t worker_count = 10;
constexpr int32_t wait_step_milliseconds = 1000;
constexpr int32_t book_file_open_mode = 4;  // write, created or emptied

constexpr int32_t download_chapters_routine = 0x04010185;
constexpr int32_t chapter_worker_routine = 0x04010186;
constexpr Location at_flag_sum{download_chapters_routine, 0x5c};
constexpr Location at_book_write{download_chapters_routine, 0x9a};
constexpr Location at_chapter_copy{chapter_worker_routine, 0x2e};
constexpr Location at_chapter_store{chapter_worker_routine, 0x41};
constexpr Location at_flag_set{chapter_worker_routine, 0x55};

// One download, shared by the main thread and the workers it started. While
// open is true the Book's lists stay as the parse left them (same length, no
// reset, no release), and a worker may touch its own elements under the lock.
struct ChapterDownload {
  std::mutex lock;
  bool open = true;
};

// Worker k takes the record of its download from slot k as it starts. A
// worker that starts late (after its own download has ended and a later one
// has filled the slot again) simply does the later download's share k, and the
// worker started for it then finds the slot empty and ends: either way each
// share of the current download is done by exactly one thread.
std::mutex g_slots_lock;
std::array<std::shared_ptr<ChapterDownload>, worker_count> g_worker_slots;

std::shared_ptr<ChapterDownload> claim_download(int32_t k) {
  if (k < 1 || k > worker_count) return nullptr;
  const std::lock_guard<std::mutex> guard(g_slots_lock);
  return std::move(g_worker_slots[k - 1]);
}

void offer_download(int32_t k, const std::shared_ptr<ChapterDownload>& download) {
  const std::lock_guard<std::mutex> guard(g_slots_lock);
  g_worker_slots[k - 1] = download;
}

std::atomic_ref<int32_t> done_flag(int32_t k, Location at) {
  auto* flag =
      reinterpret_cast<int32_t*>(array_element_at(g_book.done_flags.block(), k, Array<int32_t>::element_width, at));
  return std::atomic_ref<int32_t>(*flag);
}

int32_t done_flag_sum() {
  int32_t sum = 0;
  for (int32_t k = 1; k <= worker_count; ++k) sum += done_flag(k, at_flag_sum).load(std::memory_order_acquire);
  return sum;
}

void start_workers(const std::shared_ptr<ChapterDownload>& download) {
  for (int32_t k = 1; k <= worker_count; ++k) {
    offer_download(k, download);
    // A worker that cannot be started never sets its flag: the wait then runs
    // to its limit, and that share stays as the parse left it.
    const ArgCell cells[] = {cell_subroutine(chapter_worker), cell_int(k)};
    call_module_command(launch_thread, 2, cells);
  }
}

// True when element i holds no chapter text: the name followed by the two line
// breaks of an empty chapter, or the name alone.
bool lacks_text(int32_t i) {
  const char* const name = g_book.chapter_names.at(i, at_book_write);
  const char* const stored = g_book.chapter_texts.at(i, at_book_write);
  const std::string_view bare = name ? name : "";
  const std::string_view chapter = stored ? stored : "";
  return chapter == bare ||
         (chapter.size() == bare.size() + 4 && chapter.starts_with(bare) && chapter.ends_with("\r\n\r\n"));
}

ChapterDownloadResult write_book_file() {
  ChapterDownloadResult result;
  const Text name = book_file_name(g_book.title.get());
  const int32_t file = open_file(name.get(), book_file_open_mode);
  result.saved = file != 0;
  const int32_t n = g_book.chapter_urls.count();
  for (int32_t i = 1; i <= n; ++i) {
    if (lacks_text(i)) ++result.chapters_without_text;
    if (result.saved) result.saved = write_file(file, cell_text(g_book.chapter_texts.at(i, at_book_write)));
  }
  close_file(file);
  return result;
}

}  // namespace

ChapterDownloadResult download_chapters(int32_t wait_passes) {
  g_book.done_flags = Array<int32_t>::empty();
  if (g_book.chapter_urls.count() == 0) return {};
  for (int32_t k = 1; k <= worker_count; ++k) g_book.done_flags.append(0);

  const auto download = std::make_shared<ChapterDownload>();
  start_workers(download);
  for (int32_t pass = 0; pass < wait_passes; ++pass) {
    timed_wait(wait_step_milliseconds, 0);
    if (done_flag_sum() == worker_count) break;
  }
  {
    // From here on the workers that are still running write nowhere.
    const std::lock_guard<std::mutex> guard(download->lock);
    download->open = false;
  }
  return write_book_file();
}

int32_t OS_API chapter_worker(int32_t k) {
  const std::shared_ptr<ChapterDownload> download = claim_download(k);
  if (!download) return 0;
  int32_t n;
  {
    const std::lock_guard<std::mutex> guard(download->lock);
    if (!download->open) return 0;
    n = g_book.chapter_urls.count();
  }
  for (int32_t i = k; i <= n; i += worker_count) {
    Text address;
    Text name;
    {
      const std::lock_guard<std::mutex> guard(download->lock);
      if (!download->open) return 0;
      address = Text::copy_of(g_book.chapter_urls.at(i, at_chapter_copy));
      name = Text::copy_of(g_book.chapter_names.at(i, at_chapter_copy));
    }
    Text chapter = read_chapter(address.get(), name.get());
    const std::lock_guard<std::mutex> guard(download->lock);
    if (!download->open) return 0;
    g_book.chapter_texts.set(i, std::move(chapter), at_chapter_store);
  }
  const std::lock_guard<std::mutex> guard(download->lock);
  // Release: the main thread reads the flags with acquire ordering and then
  // the chapters this worker stored.
  if (download->open) done_flag(k, at_flag_set).store(1, std::memory_order_release);
  return 0;
}
