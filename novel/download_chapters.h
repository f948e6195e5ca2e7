// The parallel chapter download and the book file.
//
// download_chapters runs on the main thread once the table of contents has
// filled the Book (novel/book.h). It makes Book.done_flags ten zero flags, then
// starts ten chapter_worker threads; worker k (1 to 10) reads chapters k, k+10,
// k+20, ... and sets flag k when its share is done. Meanwhile the main thread
// waits for messages (which keeps the dialog answering and may re-enter it)
// until all ten flags are set or the wait limit has passed: a worker that sets
// its flag wakes the wait, so the book is written as soon as the last chapter
// is in, and the progress is reported at least once a second. It then writes
// every chapter, in list order and with nothing between them, to the book file:
// the title made safe for a file name, ".txt", in the current directory
// (novel/book_file_name.h).
//
// With the state of the last download of the same table of contents
// (novel/book_state.h) the chapters it planned to take are not fetched; their
// text comes from that state, and a fetched chapter that gives no text (or a
// shorter incomplete one) keeps the text the state had. The book is written in
// one step, then the new state file beside it.
//
// Each download has a record that the main thread and its workers share. A
// worker touches the Book only while holding the record's lock and only while
// the main thread is still waiting for it: to copy the address and the name of
// its next chapter, to store the finished chapter and to set its flag. The
// chapter page itself is fetched and cut without any lock. Once the main thread
// stops waiting it closes the record, so a worker that outlives the wait limit
// finds it closed and discards its result: it never writes into a list that is
// being written out, nor into one that a later download resets or the shutdown
// frees.
//
// The workers pace themselves through one PaceGate per download
// (novel/site_pace.h): a page that failed for a reason that may pass is fetched
// again, and once the site refuses, every worker keeps to the pace it allows.
// A chapter that waits for its retry is put aside while its worker reads its
// next chapters, and a chapter may go on over further pages
// (novel/chapter_pages.h). Before the book is written, a first line that
// repeats the chapter's name leaves its chapter (novel/extract_chapter.h), and
// then lines that stand in most chapters (the site's own notices) leave every
// chapter (novel/site_lines.h). A worker that cannot be started ends its share at once:
// those chapters stay without text.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "novel/site_pace.h"
#include "platform/os.h"
#include "runtime/support_modules.h"
#include "runtime/threads.h"

// What became of the book file and of the chapters in it.
struct ChapterDownloadResult {
  // False when the book file could not be created or not be fully written.
  bool saved = true;
  // Chapters stored without text: the name and two line breaks (the page could
  // not be had or held no prose), or the name alone (never read in time).
  int32_t chapters_without_text = 0;
  // Chapters whose text ends early: a further page they link to gave no text.
  int32_t chapters_incomplete = 0;
  // Where the time went, in seconds: the wait for the workers, the book put
  // together (the state merged in, the site lines), the two files written.
  double fetch_seconds = 0;
  double assembly_seconds = 0;
  double writing_seconds = 0;
};

// The longest wait for the workers before the book is written with what is there.
inline constexpr int32_t most_wait_seconds = 100000;

struct PreviousDownload;

struct ChapterDownloadOptions {
  // The wait limit and the retry delays differ from these only in tests, which
  // reach them in seconds.
  int32_t wait_seconds = most_wait_seconds;
  RetryDelays retry_delays;
  // The gate of the download, shared with its table of contents; a new one when null.
  std::shared_ptr<PaceGate> gate;
  // Starts a worker's thread (tests stand in one that fails).
  ModuleCommand launch = launch_thread;
  // Called on the main thread at least once a second while the workers run,
  // and once when they are done, with the number of chapters finished (with or
  // without text) and of all chapters to fetch.
  std::function<void(int32_t finished, int32_t total)> on_wait_step;
  // The last download of this table of contents, planned for this Book
  // (read_previous_download); the state file is written only when it is given.
  const PreviousDownload* previous = nullptr;
};

// Downloads every chapter of the Book and writes the book file; returns once the
// file has been written. Without chapters nothing is started or written.
ChapterDownloadResult download_chapters(const ChapterDownloadOptions& options = {});

// The thread routine of worker k (1 to 10); its result is the thread's exit code.
int32_t PLATFORM_API chapter_worker(int32_t k);
