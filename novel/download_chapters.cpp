#include "novel/download_chapters.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "novel/book.h"
#include "novel/book_file_name.h"
#include "novel/book_state.h"
#include "novel/chapter_pages.h"
#include "novel/extract_chapter.h"
#include "novel/site_lines.h"
#include "runtime/files.h"
#include "runtime/support_modules.h"
#include "runtime/threads.h"

namespace {

constexpr int32_t worker_count = 10;
constexpr std::chrono::milliseconds progress_step{1000};

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
  ChapterDownload(std::shared_ptr<PaceGate> shared_gate, const RetryDelays& delays, int32_t n)
      : gate(std::move(shared_gate)),
        pace{*gate, delays},
        taken(static_cast<size_t>(n)),
        incomplete(static_cast<size_t>(n)) {}
  std::mutex lock;
  bool open = true;
  // Chapters stored so far, with or without text; read by the wait for its progress.
  std::atomic<int32_t> finished{0};
  std::shared_ptr<PaceGate> gate;
  PagePace pace;
  // Per chapter (from 0): taken from the last download's state, not fetched;
  // set before the workers start and only read after.
  std::vector<char> taken;
  std::vector<char> incomplete;  // under the lock
  // Wakes the main thread's wait when a worker has set its flag.
  uintptr_t waker = this_thread_waker();
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
  download.incomplete[static_cast<size_t>(i - 1)] = incomplete ? 1 : 0;
  download.finished.fetch_add(1, std::memory_order_relaxed);
  return true;
}

// Release: the main thread reads the flags with acquire ordering and then
// the chapters the worker stored.
void set_done_flag(ChapterDownload& download, int32_t k) {
  {
    const std::lock_guard<std::mutex> guard(download.lock);
    if (!download.open) return;
    done_flag(k, at_flag_set).store(1, std::memory_order_release);
  }
  wake_waiting_thread(download.waker);
}

// Worker k's share when its thread could not be started: every chapter stays
// without text (its name and two line breaks), at once.
void end_share_without_text(ChapterDownload& download, int32_t k) {
  for (int32_t i = k; i <= g_book.chapter_urls.count(); i += worker_count) {
    if (download.taken[static_cast<size_t>(i - 1)]) continue;
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

// True when a chapter as stored (name, CR LF, text, CR LF) holds no text: the
// name followed by the two line breaks of an empty chapter, or the name alone.
bool lacks_text(std::string_view name, std::string_view chapter) {
  return chapter == name ||
         (chapter.size() == name.size() + 4 && chapter.starts_with(name) && chapter.ends_with("\r\n\r\n"));
}

// The text of a read chapter (name, CR LF, text, CR LF) without its name and
// line breaks; empty for a chapter without text or one never read.
std::string_view text_part(std::string_view name, std::string_view stored) {
  if (stored.size() < name.size() + 4 || !stored.starts_with(name) || stored.substr(name.size(), 2) != "\r\n" ||
      !stored.ends_with("\r\n"))
    return {};
  return stored.substr(name.size() + 2, stored.size() - name.size() - 4);
}

std::string_view element(const Array<Text>& list, int32_t i, Location at) {
  const char* const text = list.at(i, at);
  return text ? text : "";
}

// Settles what each chapter holds once the workers are done: taken chapters
// get the last download's text; a fetched one keeps that text when it gave none
// now, or a shorter incomplete one. Returns each chapter's state as its pages
// gave it; the views point into the Book's lists and the previous state.
std::vector<ChapterState> settle_chapters(const ChapterDownload& download, const PreviousDownload* previous) {
  const int32_t n = g_book.chapter_urls.count();
  std::vector<ChapterState> chapters(static_cast<size_t>(n));
  for (int32_t i = 1; i <= n; ++i) {
    const size_t at = static_cast<size_t>(i - 1);
    const std::string_view name = element(g_book.chapter_names, i, at_site_lines);
    const ChapterText fetched{text_part(name, element(g_book.chapter_texts, i, at_site_lines)),
                              download.incomplete[at] == 0};
    const ChapterState* before = nullptr;
    if (previous && at < previous->chapters.size() && previous->chapters[at].previous >= 0)
      before = &previous->state.chapters[static_cast<size_t>(previous->chapters[at].previous)];
    ChapterText kept =
        download.taken[at] && before ? ChapterText{before->text, before->complete} : kept_chapter_text(fetched, before);
    if (kept.text.data() != fetched.text.data()) {
      const Text text = Text::adopt(copy_text_bytes(kept.text.data(), static_cast<int32_t>(kept.text.size())));
      g_book.chapter_texts.set(i, join(name.data(), "\r\n", text, "\r\n"), at_site_lines);
      kept.text = text_part(name, element(g_book.chapter_texts, i, at_site_lines));
    }
    chapters[at] = {element(g_book.chapter_urls, i, at_site_lines), kept.text, kept.complete, false};
  }
  return chapters;
}

// Puts the book together from each chapter's text as its pages gave it (in
// book order): a first line that repeats the chapter's name leaves it, then
// lines that stand in most chapters, the site's own notices, leave every chapter. Returns the texts that changed (empty
// where a chapter stays as stored); the Book's lists are not touched.
std::vector<Text> assemble_chapters(std::span<const ChapterState> chapters) {
  std::vector<Text> texts;
  texts.reserve(chapters.size());
  for (int32_t i = 1; i <= static_cast<int32_t>(chapters.size()); ++i) {
    const ChapterState& chapter = chapters[static_cast<size_t>(i - 1)];
    const Text text = Text::adopt(copy_text_bytes(chapter.text.data(), static_cast<int32_t>(chapter.text.size())));
    texts.push_back(without_title_echo(g_book.chapter_names.at(i, at_site_lines), text.c_str()));
  }
  remove_site_lines(texts);
  for (size_t i = 0; i < texts.size(); ++i) {
    if (static_cast<size_t>(texts[i].length()) == chapters[i].text.size()) texts[i].reset();
  }
  return texts;
}

struct BookParts {
  std::vector<std::string_view> parts;
  std::vector<char> had_text;  // per chapter
  int32_t without_text = 0;
};

// What the book file holds, chapter by chapter: the chapter as stored, or its
// name and the text the assembly left.
BookParts book_parts(std::span<const Text> changed) {
  BookParts book;
  const int32_t n = g_book.chapter_urls.count();
  book.parts.reserve(static_cast<size_t>(n) * 4);
  for (int32_t i = 1; i <= n; ++i) {
    const Text& text = changed[static_cast<size_t>(i - 1)];
    const std::string_view name = element(g_book.chapter_names, i, at_book_write);
    bool has_text;
    if (text.get() != nullptr) {
      book.parts.insert(book.parts.end(), {name, "\r\n", text.c_str(), "\r\n"});
      has_text = !text.empty();
    } else {
      const std::string_view stored = element(g_book.chapter_texts, i, at_book_write);
      book.parts.push_back(stored);
      has_text = !lacks_text(name, stored);
    }
    book.had_text.push_back(has_text ? 1 : 0);
    if (!has_text) ++book.without_text;
  }
  return book;
}

// The Book's chapter texts as the book file holds them.
void store_assembled(std::span<Text> changed) {
  for (int32_t i = 1; i <= static_cast<int32_t>(changed.size()); ++i) {
    Text& text = changed[static_cast<size_t>(i - 1)];
    if (text.get() == nullptr) continue;
    g_book.chapter_texts.set(i, join(g_book.chapter_names.at(i, at_site_lines), "\r\n", text, "\r\n"), at_site_lines);
  }
}

// Waits until every worker has set its flag or the limit has passed, reporting
// the progress at least once a second and once at the end.
void wait_for_workers(const ChapterDownload& download, const ChapterDownloadOptions& options, int32_t to_fetch) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point limit = Clock::now() + std::chrono::seconds(options.wait_seconds);
  Clock::time_point next_report = Clock::now() + progress_step;
  auto report = [&] {
    if (options.on_wait_step) options.on_wait_step(download.finished.load(std::memory_order_relaxed), to_fetch);
  };
  while (done_flag_sum() != worker_count) {
    const Clock::time_point now = Clock::now();
    if (now >= limit) break;
    if (now >= next_report) {
      report();
      next_report = now + progress_step;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(std::min(next_report, limit) - now);
    wait_for_messages(static_cast<uint32_t>(std::max<int64_t>(left.count(), 1)));
  }
  report();
}

}  // namespace

ChapterDownloadResult download_chapters(const ChapterDownloadOptions& options) {
  g_book.done_flags = Array<int32_t>::empty();
  const int32_t n = g_book.chapter_urls.count();
  if (n == 0) return {};
  for (int32_t k = 1; k <= worker_count; ++k) g_book.done_flags.append(0);

  const auto download = std::make_shared<ChapterDownload>(options.gate ? options.gate : std::make_shared<PaceGate>(),
                                                          options.retry_delays, n);
  int32_t taken = 0;
  if (options.previous) {
    for (size_t i = 0; i < options.previous->chapters.size() && i < download->taken.size(); ++i) {
      download->taken[i] = options.previous->chapters[i].taken ? 1 : 0;
      taken += download->taken[i];
    }
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point started = Clock::now();
  start_workers(download, options.launch);
  wait_for_workers(*download, options, n - taken);
  const Clock::time_point fetched = Clock::now();
  {
    // From here on the workers that are still running write nowhere.
    const std::lock_guard<std::mutex> guard(download->lock);
    download->open = false;
  }
  std::vector<ChapterState> chapters = settle_chapters(*download, options.previous);
  std::vector<Text> changed = assemble_chapters(chapters);
  const BookParts book = book_parts(changed);
  const Clock::time_point assembled = Clock::now();

  ChapterDownloadResult result;
  result.chapters_without_text = book.without_text;
  for (const ChapterState& chapter : chapters) result.chapters_incomplete += chapter.complete ? 0 : 1;
  const Text book_file = book_file_name(g_book.title.get());
  result.saved = write_file_in_one_step(book_file.c_str(), book.parts);
  if (result.saved && options.previous) {
    for (size_t i = 0; i < chapters.size(); ++i) chapters[i].had_text = book.had_text[i] != 0;
    const StateParts state = book_state_parts(options.previous->contents_address, chapters);
    write_file_in_one_step(book_state_file_name(book_file.c_str()), state.parts);
  }
  store_assembled(changed);
  result.fetch_seconds = std::chrono::duration<double>(fetched - started).count();
  result.assembly_seconds = std::chrono::duration<double>(assembled - fetched).count();
  result.writing_seconds = std::chrono::duration<double>(Clock::now() - assembled).count();
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
    // Chapters taken from the last download's state are not fetched.
    while (i <= n && download->taken[static_cast<size_t>(i - 1)]) i += worker_count;
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
