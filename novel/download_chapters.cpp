#include "novel/download_chapters.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include <vector>

#include "novel/book.h"
#include "novel/book_file_name.h"
#include "novel/chapter_pages.h"
#include "novel/extract_chapter.h"
#include "novel/site_lines.h"
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
constexpr Location at_site_lines{download_chapters_routine, 0x90};
constexpr Location at_flag_set{chapter_worker_routine, 0x55};

// One download, shared by the main thread and the workers it started. While
// open is true the Book's lists stay as the parse left them (same length, no
// reset, no release), and a worker may touch its own elements under the lock.
struct ChapterDownload {
  ChapterDownload(std::shared_ptr<PaceGate> shared_gate, const RetryDelays& delays)
      : gate(std::move(shared_gate)), pace{*gate, delays} {}
  std::mutex lock;
  bool open = true;
  // Chapters stored so far, with or without text; read by the wait for its progress.
  std::atomic<int32_t> finished{0};
  int32_t incomplete = 0;  // under the lock
  std::shared_ptr<PaceGate> gate;
  PagePace pace;
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

// Stores chapter i of worker k's share while the download is open; false once
// it is closed, when the worker must stop.
bool store_chapter(ChapterDownload& download, int32_t i, Text chapter, bool incomplete) {
  const std::lock_guard<std::mutex> guard(download.lock);
  if (!download.open) return false;
  g_book.chapter_texts.set(i, std::move(chapter), at_chapter_store);
  if (incomplete) ++download.incomplete;
  download.finished.fetch_add(1, std::memory_order_relaxed);
  return true;
}

// Release: the main thread reads the flags with acquire ordering and then
// the chapters the worker stored.
void set_done_flag(ChapterDownload& download, int32_t k) {
  const std::lock_guard<std::mutex> guard(download.lock);
  if (download.open) done_flag(k, at_flag_set).store(1, std::memory_order_release);
}

// Worker k's share when its thread could not be started: every chapter stays
// without text (its name and two line breaks), at once.
void end_share_without_text(ChapterDownload& download, int32_t k) {
  for (int32_t i = k; i <= g_book.chapter_urls.count(); i += worker_count) {
    const Text name = Text::copy_of(g_book.chapter_names.at(i, at_chapter_copy));
    store_chapter(download, i, join(name, "\r\n\r\n"), false);
  }
  set_done_flag(download, k);
}

void start_workers(const std::shared_ptr<ChapterDownload>& download, ModuleCommand launch) {
  for (int32_t k = 1; k <= worker_count; ++k) {
    offer_download(k, download);
    const ArgCell cells[] = {cell_subroutine(chapter_worker), cell_int(k)};
    const ArgCell started = call_module_command(launch, 2, cells);
    if (started.value == 0 && claim_download(k)) end_share_without_text(*download, k);
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

// The text of a read chapter (name, CR LF, text, CR LF) without its name and
// line breaks; empty for a chapter without text or one never read.
std::string_view text_part(std::string_view name, std::string_view stored) {
  if (stored.size() < name.size() + 4 || !stored.starts_with(name) || stored.substr(name.size(), 2) != "\r\n" ||
      !stored.ends_with("\r\n"))
    return {};
  return stored.substr(name.size() + 2, stored.size() - name.size() - 4);
}

// The book is put together: a first line that repeats the chapter's name
// leaves each chapter, then lines that stand in most chapters, the site's own
// notices, leave every chapter.
void put_book_together() {
  const int32_t n = g_book.chapter_urls.count();
  std::vector<Text> texts;
  std::vector<int32_t> lengths;
  texts.reserve(static_cast<size_t>(n));
  lengths.reserve(static_cast<size_t>(n));
  for (int32_t i = 1; i <= n; ++i) {
    const char* const name = g_book.chapter_names.at(i, at_site_lines);
    const char* const stored = g_book.chapter_texts.at(i, at_site_lines);
    const std::string text(text_part(name ? name : "", stored ? stored : ""));
    lengths.push_back(static_cast<int32_t>(text.size()));
    texts.push_back(without_title_echo(name, text.c_str()));
  }
  remove_site_lines(texts);
  for (int32_t i = 1; i <= n; ++i) {
    const Text& text = texts[static_cast<size_t>(i - 1)];
    if (text.length() == lengths[static_cast<size_t>(i - 1)]) continue;
    g_book.chapter_texts.set(i, join(g_book.chapter_names.at(i, at_site_lines), "\r\n", text, "\r\n"), at_site_lines);
  }
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

ChapterDownloadResult download_chapters(const ChapterDownloadOptions& options) {
  g_book.done_flags = Array<int32_t>::empty();
  const int32_t n = g_book.chapter_urls.count();
  if (n == 0) return {};
  for (int32_t k = 1; k <= worker_count; ++k) g_book.done_flags.append(0);

  const auto download = std::make_shared<ChapterDownload>(options.gate ? options.gate : std::make_shared<PaceGate>(),
                                                          options.retry_delays);
  start_workers(download, options.launch);
  for (int32_t pass = 0; pass < options.wait_passes; ++pass) {
    timed_wait(wait_step_milliseconds, 0);
    if (options.on_wait_step) options.on_wait_step(download->finished.load(std::memory_order_relaxed), n);
    if (done_flag_sum() == worker_count) break;
  }
  int32_t incomplete;
  {
    // From here on the workers that are still running write nowhere.
    const std::lock_guard<std::mutex> guard(download->lock);
    download->open = false;
    incomplete = download->incomplete;
  }
  put_book_together();
  ChapterDownloadResult result = write_book_file();
  result.chapters_incomplete = incomplete;
  return result;
}

int32_t PLATFORM_API chapter_worker(int32_t k) {
  const std::shared_ptr<ChapterDownload> download = claim_download(k);
  if (!download) return 0;
  int32_t n;
  {
    const std::lock_guard<std::mutex> guard(download->lock);
    if (!download->open) return 0;
    n = g_book.chapter_urls.count();
  }
  int32_t i = k;
  // The next chapter of the share, copied while the download is open.
  const auto next = [&](ChapterToRead& chapter) {
    if (i > n) return false;
    const std::lock_guard<std::mutex> guard(download->lock);
    if (!download->open) return false;
    chapter.index = i;
    chapter.address = Text::copy_of(g_book.chapter_urls.at(i, at_chapter_copy));
    chapter.name = Text::copy_of(g_book.chapter_names.at(i, at_chapter_copy));
    i += worker_count;
    return true;
  };
  const auto store = [&](int32_t index, ChapterPages chapter) {
    return store_chapter(*download, index, std::move(chapter.chapter), chapter.incomplete);
  };
  if (read_share(download->pace, next, store)) set_done_flag(*download, k);
  return 0;
}
