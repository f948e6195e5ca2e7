// One download without the dialog, for the download benchmark
// (bench_download.py): the table of contents is fetched, converted when it
// declares UTF-8 and parsed, the state file of an earlier download beside the
// book is read, then the chapters it does not have are read by the ten workers
// and the book file and the state file written to the current directory,
// exactly as the download command does it. Prints the chapter count, the wall
// time, whether the book was saved, the chapters without text and taken, and
// the time of each phase; on Linux the peak resident memory as well.
//
//   download_bench ADDRESS
//   download_bench --state-load   times reading a state file of 2,000 chapters of 10 KB
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "novel/book.h"
#include "novel/book_state.h"
#include "novel/download_chapters.h"
#include "novel/table_of_contents.h"
#include "runtime/files.h"
#include "runtime/memory.h"
#include "web/fetch_page.h"
#include "web/utf8_to_local.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The peak resident memory in KB as Linux reports it; -1 elsewhere.
long peak_kilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

int state_load() {
  std::vector<std::string> addresses, texts;
  for (int i = 0; i < 2000; ++i) {
    addresses.push_back("http://127.0.0.1:8080/book/" + std::to_string(100000 + i) + ".html");
    texts.push_back(std::string(10000, static_cast<char>(0xB0 + i % 16)));
  }
  std::vector<ChapterState> chapters;
  for (int i = 0; i < 2000; ++i) chapters.push_back({addresses[i], texts[i], true, true});
  const std::string bytes = encode_book_state("http://127.0.0.1:8080/book/", chapters);
  std::ofstream("state-load.novelfetch", std::ios::binary) << bytes;
  std::vector<std::string_view> views(addresses.begin(), addresses.end());
  double best = 1e9, first = 0;
  size_t taken = 0;
  for (int round = 0; round < 5; ++round) {
    const Clock::time_point start = Clock::now();
    std::string read;
    BookState state;
    if (!read_whole_file("state-load.novelfetch", read) || !decode_book_state(std::move(read), state)) return 1;
    taken = 0;
    for (const ChapterPlan& plan : plan_chapters(state, views)) taken += plan.taken ? 1 : 0;
    const double took = seconds_since(start);
    if (round == 0) first = took;
    best = std::min(best, took);
  }
  // The first round also pays for the memory the process touches the first time.
  std::printf(
      "state file of %.1f MB, 2000 chapters: read, checked and planned in %.1f ms (first of 5: %.1f ms; %zu taken)\n",
      bytes.size() / 1e6, best * 1000, first * 1000, taken);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: download_bench ADDRESS | --state-load\n");
    return 2;
  }
  runtime_startup();
  if (std::string(argv[1]) == "--state-load") return state_load();
  create_book();
  const Clock::time_point start = Clock::now();
  Text page = fetch_page(argv[1]);
  if (declares_utf8(page.get())) page = utf8_to_local(page.get());
  parse_table_of_contents(argv[1], page.get());
  const Clock::time_point load_start = Clock::now();
  const PreviousDownload previous = read_previous_download(argv[1]);
  const double load_seconds = seconds_since(load_start);
  ChapterDownloadOptions options;
  options.previous = &previous;
  const ChapterDownloadResult result = download_chapters(options);
  const double seconds = seconds_since(start);
  std::printf(
      "chapters %d seconds %.3f saved %d without-text %d taken %d state-load %.3f fetches %.3f assembly %.3f "
      "writing %.3f peak-kb %ld\n",
      g_book.chapter_urls.count(), seconds, result.saved ? 1 : 0, result.chapters_without_text, previous.taken,
      load_seconds, result.fetch_seconds, result.assembly_seconds, result.writing_seconds, peak_kilobytes());
  std::fflush(stdout);
  release_book();
  return result.saved ? 0 : 1;
}
