#include "novel/extract_chapter.h"

#include <algorithm>

#include "novel/book.h"
#include "novel/page_search.h"
#include "platform/system.h"
#include "runtime/text_commands.h"
#include "web/fetch_page.h"
#include "web/utf8_to_local.h"

namespace {

constexpr int32_t most_blocks_examined = 500;
constexpr int32_t shortest_block_rejected = 300;
constexpr int32_t fewest_high_bytes_rejected = 600;
constexpr Location chapter_lists_at = {0x04010184, 0x4d};

struct CleaningRow {
  const char* find;
  const char* replacement;
};
// Applied in order, each to the result of the one before, case-sensitively.
constexpr CleaningRow cleaning_table[] = {
    {"&nbsp;", " "}, {" ", nullptr},  {"\r\n", nullptr}, {"<br/><br/>", "\r\n"}, {"<br/>", "\r\n"},
    {"<", nullptr},  {"br", nullptr}, {"/", nullptr},    {">", nullptr},
};

bool is_high_byte(unsigned char byte) { return byte >= 0x80; }

// The first block that passes both thresholds, from its "<div" up to just
// before its "</div>"; empty when there is none. Each search starts at the last
// "</div>", so a "<div" nested inside a block never starts a block of its own.
Text content_block(const char* page) {
  const PageSearch search(page);
  int32_t from = 1;
  for (int32_t pass = 0; pass < most_blocks_examined; ++pass) {
    const int32_t start = search.find("<div", from, true);
    if (start < 1) break;
    const int32_t end = search.find("</div>", start, true);
    if (end < 1) break;
    from = end;
    const int32_t length = end - start;
    if (length <= shortest_block_rejected) continue;
    const unsigned char* first = search.bytes() + (start - 1);
    if (std::count_if(first, first + length, is_high_byte) <= fewest_high_bytes_rejected) continue;
    return mid_text(page + start - 1, 1, length);
  }
  return Text();
}

// The text between the runs of bytes 0x01 to 0x7F at its two ends; empty when
// it holds no byte of 0x80 or above.
Text without_ascii_ends(const Text& text) {
  const int32_t length = text.length();
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
  int32_t first = 0;
  while (first < length && !is_high_byte(bytes[first])) ++first;
  if (first == length) return Text();
  int32_t last = length - 1;
  while (!is_high_byte(bytes[last])) --last;
  return mid_text(text.get(), first + 1, last - first + 1);
}

}  // namespace

Text chapter_text_of_page(Text page) {
  if (declares_utf8(page.get())) page = utf8_to_local(page.get());
  Text text = content_block(page.get());
  if (text.empty()) return text;
  for (const CleaningRow& row : cleaning_table) {
    text = replace_text(text.get(), row.find, row.replacement, std::nullopt, std::nullopt, true);
  }
  return without_ascii_ends(text);
}

Text read_chapter(const char* address, const char* name) {
  os::com_initialize();
  const Text text = chapter_text_of_page(fetch_page(address));
  return join(name, "\r\n", text, "\r\n");
}

void extract_chapter(const char* address, int32_t n) {
  const char* name = g_book.chapter_names.at(n, chapter_lists_at);
  g_book.chapter_texts.set(n, read_chapter(address, name), chapter_lists_at);
}
