// One whole download without the dialog, for the download benchmark
// (bench_download.py): the table of contents is fetched, converted when it
// declares UTF-8 and parsed, then every chapter is read by the ten workers and
// the book file written to the current directory, exactly as the download
// command does it. Prints the chapter count, the wall time and whether the
// book was saved.
//
//   download_bench ADDRESS
#include <chrono>
#include <cstdio>

#include "novel/book.h"
#include "novel/download_chapters.h"
#include "novel/table_of_contents.h"
#include "runtime/memory.h"
#include "web/fetch_page.h"
#include "web/utf8_to_local.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: download_bench ADDRESS\n");
    return 2;
  }
  runtime_startup();
  create_book();
  const auto start = std::chrono::steady_clock::now();
  Text page = fetch_page(argv[1]);
  if (declares_utf8(page.get())) page = utf8_to_local(page.get());
  parse_table_of_contents(argv[1], page.get());
  const ChapterDownloadResult result = download_chapters();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("chapters %d seconds %.3f saved %d without-text %d\n", g_book.chapter_urls.count(), seconds,
              result.saved ? 1 : 0, result.chapters_without_text);
  std::fflush(stdout);
  release_book();
  return result.saved ? 0 : 1;
}
