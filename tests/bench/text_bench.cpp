// Throughput of the text commands on a chapter-sized mix of two-byte Chinese
// characters and ASCII markup, next to the C library's memmem over the same
// bytes in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

#include "runtime/arrays.h"
#include "runtime/text_commands.h"
#include "runtime/text_search.h"
#include "runtime/texts.h"

namespace {

constexpr size_t k_text_size = 2 * 1024 * 1024;
constexpr int k_growing_searches = 10000;

// About 2 MB: runs of two-byte characters (GB2312 and GBK extension bytes, so
// second bytes below 0x80 occur too) between pieces of markup. Each "<p>" lies
// about 200 bytes after the previous one; the sought "</body>" only at the end.
const std::string& mixed_text() {
  static const std::string text = [] {
    std::mt19937 random(20240601);
    std::string out;
    out.reserve(k_text_size + 64);
    while (out.size() < k_text_size - 16) {
      out += "<p>";
      const int characters = 50 + int(random() % 50);
      for (int i = 0; i < characters; ++i) {
        if (random() % 8 == 0) {
          out += static_cast<char>(0x81 + random() % 0x1F);  // GBK extension: second byte 0x40 to 0x7E
          out += static_cast<char>(0x40 + random() % 0x3F);
        } else {
          out += static_cast<char>(0xB0 + random() % 0x48);
          out += static_cast<char>(0xA1 + random() % 0x5E);
        }
        if (random() % 20 == 0) out += "&nbsp;";
      }
      out += "</p>\r\n";
    }
    out += "</body>";
    return out;
  }();
  return text;
}

const char* heap_copy() {
  static const char* copy = copy_text_bytes(mixed_text().data(), int32_t(mixed_text().size()));
  return copy;
}

void find_text_case_sensitive(benchmark::State& state) {
  const char* text = heap_copy();
  for (auto _ : state) benchmark::DoNotOptimize(find_text(text, "</body>"));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(mixed_text().size()));
}
BENCHMARK(find_text_case_sensitive);

void find_text_ignoring_case(benchmark::State& state) {
  const char* text = heap_copy();
  for (auto _ : state) benchmark::DoNotOptimize(find_text(text, "</BODY>", std::nullopt, true));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(mixed_text().size()));
}
BENCHMARK(find_text_ignoring_case);

// A two-byte character that the text does not hold: its first byte is one of
// the commonest in the text, so many candidates are looked at.
void find_text_absent_character(benchmark::State& state) {
  const char* text = heap_copy();
  for (auto _ : state) benchmark::DoNotOptimize(find_text(text, "\xc4\x3f"));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(mixed_text().size()));
}
BENCHMARK(find_text_absent_character);

void memmem_same_bytes(benchmark::State& state) {
  const char* text = heap_copy();
  const size_t length = mixed_text().size();
  for (auto _ : state) benchmark::DoNotOptimize(memmem(text, length, "</body>", 7));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(length));
}
BENCHMARK(memmem_same_bytes);

void text_length_of_2mb(benchmark::State& state) {
  const char* text = heap_copy();
  for (auto _ : state) benchmark::DoNotOptimize(text_length(text));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(mixed_text().size()));
}
BENCHMARK(text_length_of_2mb);

// 10,000 searches, each starting just after the previous find, as the parser
// walks a page. Each call checks the bytes before its start for the terminator
// (a fast block scan, no stepping by characters) and then searches only as far
// as the next find.
void growing_start_searches(benchmark::State& state) {
  const char* text = heap_copy();
  int searches = 0;
  int32_t reached = 0;
  for (auto _ : state) {
    int32_t position = 0;
    for (searches = 0; searches < k_growing_searches; ++searches) {
      const int32_t found = find_text(text, "<p>", position + 1);
      if (found < 0) break;
      position = found;
    }
    reached = position;
    benchmark::DoNotOptimize(reached);
  }
  state.counters["searches"] = searches;
  state.counters["last_find"] = reached;
}
BENCHMARK(growing_start_searches)->Unit(benchmark::kMillisecond);

// The same scan where the caller has measured the text once and knows each
// start is a character start (as the page scans of the parser do): it costs
// one pass over the text.
void growing_start_searches_known_length(benchmark::State& state) {
  const auto* text = reinterpret_cast<const unsigned char*>(heap_copy());
  const size_t length = size_t(text_length(heap_copy()));
  const auto* sought = reinterpret_cast<const unsigned char*>("<p>");
  int searches = 0;
  for (auto _ : state) {
    size_t position = 0;
    for (searches = 0; searches < k_growing_searches; ++searches) {
      const size_t found = search_characters(text, length, position, sought, 3, false);
      if (found == SIZE_MAX) break;
      position = found + 1;
    }
    benchmark::DoNotOptimize(position);
  }
  state.counters["searches"] = searches;
}
BENCHMARK(growing_start_searches_known_length)->Unit(benchmark::kMillisecond);

void replace_text_of_2mb(benchmark::State& state) {
  const char* text = heap_copy();
  for (auto _ : state) {
    Text result = replace_text(text, "&nbsp;", " ", std::nullopt, std::nullopt, true);
    benchmark::DoNotOptimize(result.get());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(mixed_text().size()));
}
BENCHMARK(replace_text_of_2mb);

void split_text_of_2mb(benchmark::State& state) {
  const char* text = heap_copy();
  for (auto _ : state) {
    Array<Text> lines = Array<Text>::adopt(split_text(text, "\r\n"));
    benchmark::DoNotOptimize(lines.block());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(mixed_text().size()));
}
BENCHMARK(split_text_of_2mb);

}  // namespace

BENCHMARK_MAIN();
