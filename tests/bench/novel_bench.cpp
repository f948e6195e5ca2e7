// Speed of the novel code on generated pages: the table-of-contents parse for
// pages of 100 KB to 4 MB with 1,000 to 40,000 links, and the chapter
// extraction (block choice, cleaning, trimming) for chapter pages of 10 KB to
// 1 MB, in code page 936 and in UTF-8; the removal of site lines from 5,000
// chapters of 20 KB, with and without site lines in them.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "novel/book.h"
#include "novel/extract_chapter.h"
#include "novel/site_lines.h"
#include "novel/table_of_contents.h"
#include "platform/code_pages.h"

namespace {

// A two-byte character of code page 936 for i (GB2312 hanzi area).
void append_character(std::string& out, unsigned i) {
  out += static_cast<char>(0xB0 + (i * 7) % 0x27);
  out += static_cast<char>(0xA1 + (i * 13) % 0x5E);
}

// A table of contents of about size bytes with links chapter links, spread
// evenly, after a block of the twelve newest chapters.
std::string table_of_contents(size_t size, int links) {
  std::string page = "<html><head><title>";
  for (unsigned i = 0; i < 6; ++i) append_character(page, i);
  page += "\xd7\xee\xd0\xc2\xd5\xc2\xbd\xda_site</title></head><body><div id=\"list\"><dl>\r\n";
  auto link = [&page](int number) {
    page += "<dd><a href=\"/book/4321/" + std::to_string(1000 + number) + ".html\" title=\"t\">";
    for (unsigned i = 0; i < 8; ++i) append_character(page, number + i);
    page += "</a></dd>\r\n";
  };
  for (int i = links - 12; i < links; ++i) link(i);
  const size_t padding = size / links > 90 ? size / links - 90 : 0;
  for (int i = 0; i < links; ++i) {
    link(i);
    page += "<!--";
    for (size_t j = 0; j < padding / 2; ++j) append_character(page, unsigned(j));
    page += "-->";
  }
  page += "</dl></div></body></html>";
  return page;
}

void parse(benchmark::State& state) {
  const std::string page = table_of_contents(size_t(state.range(0)) * 1024, int(state.range(1)));
  create_book();
  for (auto _ : state) {
    // The lists of the last round are freed outside the measured time: a
    // download parses into the lists that start-up made.
    state.PauseTiming();
    release_book();
    create_book();
    state.ResumeTiming();
    parse_table_of_contents("http://www.example.test/book/4321/", page.c_str());
  }
  state.counters["chapters"] = g_book.chapter_urls.count();
  state.counters["page_kb"] = double(page.size()) / 1024;
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(page.size()));
  release_book();
}
// With 10,000 links or more the pass limit stops the scan before the full
// list repeats the newest block; 5,000 links in 1 MB make it repeat.
BENCHMARK(parse)
    ->Args({100, 1000})
    ->Args({1024, 5000})
    ->Args({1024, 10000})
    ->Args({4096, 10000})
    ->Args({4096, 40000})
    ->Unit(benchmark::kMillisecond);

// A chapter page of about size bytes: navigation, a long first div that is no
// prose, then the prose with its indents and line breaks.
std::string chapter_page(size_t size, bool utf8) {
  std::string page = utf8 ? "<html><head><meta charset=\"utf-8\">" : "<html><head><meta charset=gbk>";
  page += "<title>t</title></head><body><div class=\"nav\">";
  for (int i = 0; i < 40; ++i) page += "<a href=\"/sort/" + std::to_string(i) + "/\">x</a> ";
  page += "</div>\r\n<div id=\"content\">";
  unsigned i = 0;
  while (page.size() < size) {
    page += "&nbsp;&nbsp;&nbsp;&nbsp;";
    for (int k = 0; k < 60; ++k) append_character(page, i++);
    page += "<br />\r\n<br />\r\n";
  }
  page += "</div><div class=\"footer\">footer</div></body></html>";
  return utf8 ? platform::local_to_utf8(page) : page;
}

void extract(benchmark::State& state) {
  const std::string page = chapter_page(size_t(state.range(0)) * 1024, state.range(1) != 0);
  size_t text_size = 0;
  for (auto _ : state) {
    Text text = chapter_text_of_page(Text::copy_of(page.c_str()));
    text_size = size_t(text.length());
    benchmark::DoNotOptimize(text.get());
  }
  state.counters["text_kb"] = double(text_size) / 1024;
  state.SetLabel(state.range(1) ? "utf-8" : "gbk");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(page.size()));
}
BENCHMARK(extract)->Args({10, 0})->Args({100, 0})->Args({1024, 0})->Args({10, 1})->Args({1024, 1})->Unit(
    benchmark::kMillisecond);

// The text of chapter number, about size bytes: indented paragraphs of 60
// characters joined by CR LF, none of them like another chapter's; with
// site_lines, a line of the site's after the first paragraph and at the end.
std::string chapter_text(unsigned number, size_t size, bool site_lines) {
  static const std::string site_line = "\xb1\xbe\xd5\xbe\xcd\xf8\xd6\xb7\xa3\xbawww.example.test";  // 本站网址：
  std::string text;
  unsigned i = number * 7919;
  while (text.size() < size) {
    if (!text.empty()) text += "\r\n";
    text += "\xa1\xa1\xa1\xa1";
    for (int k = 0; k < 60; ++k) append_character(text, i++);
    if (site_lines && text.size() < 200) text += "\r\n" + site_line;
  }
  if (site_lines) text += "\r\n" + site_line;
  return text;
}

void site_lines(benchmark::State& state) {
  std::vector<std::string> sources;
  for (unsigned number = 0; number < 5000; ++number) sources.push_back(chapter_text(number, 20 * 1024, state.range(0)));
  size_t bytes = 0;
  for (const std::string& source : sources) bytes += source.size();
  std::vector<Text> texts;
  for (auto _ : state) {
    state.PauseTiming();
    texts.clear();
    for (const std::string& source : sources) texts.push_back(Text::copy_of(source.c_str()));
    state.ResumeTiming();
    remove_site_lines(texts);
  }
  state.SetLabel(state.range(0) ? "two site lines a chapter" : "no site lines");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
BENCHMARK(site_lines)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
