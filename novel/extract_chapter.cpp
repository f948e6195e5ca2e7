#include "novel/extract_chapter.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "novel/book.h"
#include "novel/page_search.h"
#include "platform/system.h"
#include "runtime/text_commands.h"
#include "runtime/text_search.h"
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

// ---- Tags --------------------------------------------------------------------------------
//
// The block is walked by characters of code page 936 (the rules of
// platform/code_page_936.h), so no tag is ever found inside a
// two-byte character. Every marker begins with an ASCII byte and every match
// ends with ">" or at the end of the block, so what follows a match is always
// a character start again.

constexpr size_t not_found = std::string_view::npos;

bool is_ascii_white_space(unsigned char byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }

bool is_ascii_letter(unsigned char byte) { return (byte | 0x20) >= 'a' && (byte | 0x20) <= 'z'; }

// The first character at or after the character start from that is the ASCII
// byte sought; not_found when there is none.
size_t find_character(std::string_view block, size_t from, unsigned char sought) {
  if (from >= block.size()) return not_found;
  const size_t found =
      search_characters(reinterpret_cast<const unsigned char*>(block.data()), block.size(), from, &sought, 1, false);
  return found == SIZE_MAX ? not_found : found;
}

// True when the bytes at position at spell marker (lower case) in any case.
bool spells_at(std::string_view block, size_t at, std::string_view marker) {
  if (block.size() - at < marker.size()) return false;
  for (size_t i = 0; i < marker.size(); ++i) {
    if (g_lower_case_map[static_cast<unsigned char>(block[at + i])] != static_cast<unsigned char>(marker[i]))
      return false;
  }
  return true;
}

// The first character start at or after from where marker (lower case, first
// byte "<") is spelt in any case; not_found when there is none.
size_t find_marker(std::string_view block, size_t from, std::string_view marker) {
  for (size_t at = find_character(block, from, '<'); at != not_found; at = find_character(block, at + 1, '<')) {
    if (spells_at(block, at, marker)) return at;
  }
  return not_found;
}

// True when a tag name can end at position at: white space, "/", ">" or the
// end of the block. "<scripts>" names no script element.
bool tag_name_ends_at(std::string_view block, size_t at) {
  if (at == block.size()) return true;
  const auto byte = static_cast<unsigned char>(block[at]);
  return is_ascii_white_space(byte) || byte == '/' || byte == '>';
}

// A stretch of the block that is replaced, from a "<" up to end; end 0 means
// the "<" starts nothing to replace.
struct TagMatch {
  size_t end = 0;
  std::string_view replacement;
};

// Copies the block with every match that matcher(block, at) reports for a "<"
// at a character start replaced; the scan goes on after each replaced stretch.
template <typename Matcher>
std::string replace_matches(std::string_view block, Matcher&& matcher) {
  std::string out;
  out.reserve(block.size() + block.size() / 4 + 1);
  size_t copied = 0;
  size_t at = find_character(block, 0, '<');
  while (at != not_found) {
    const TagMatch match = matcher(block, at);
    if (match.end == 0) {
      at = find_character(block, at + 1, '<');
      continue;
    }
    out.append(block.substr(copied, at - copied));
    out.append(match.replacement);
    copied = match.end;
    at = find_character(block, match.end, '<');
  }
  out.append(block.substr(copied));
  return out;
}

constexpr std::string_view line_break_tag = "<br/>";

// "</p" + any white space + ">": the end of a paragraph, a line break.
size_t paragraph_end_tag_end(std::string_view block, size_t at) {
  if (!spells_at(block, at, "</p")) return 0;
  size_t end = at + 3;
  while (end < block.size() && is_ascii_white_space(static_cast<unsigned char>(block[end]))) ++end;
  return end < block.size() && block[end] == '>' ? end + 1 : 0;
}

// A script or style element from its start tag through its end tag, whose
// content is never prose. An element without an end tag (a block cut off by a
// "</div>" written inside a script, say) runs to the end of the block.
size_t script_element_end(std::string_view block, size_t at) {
  static constexpr std::string_view elements[][2] = {{"<script", "</script"}, {"<style", "</style"}};
  for (const auto& [start_tag, end_tag] : elements) {
    if (!spells_at(block, at, start_tag) || !tag_name_ends_at(block, at + start_tag.size())) continue;
    size_t end = find_marker(block, at + start_tag.size(), end_tag);
    while (end != not_found && !tag_name_ends_at(block, end + end_tag.size())) {
      end = find_marker(block, end + 1, end_tag);
    }
    if (end == not_found) return block.size();
    const size_t close = find_character(block, end + end_tag.size(), '>');
    return close == not_found ? block.size() : close + 1;
  }
  return 0;
}

bool is_line_break_filler(unsigned char byte) {
  return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n' || byte == '/';
}

// "<br" + any blanks, tabs, CR, LF or "/" + ">", in any case: a line break.
size_t line_break_tag_end(std::string_view block, size_t at) {
  if (!spells_at(block, at, "<br")) return 0;
  size_t end = at + 3;
  while (end < block.size() && is_line_break_filler(static_cast<unsigned char>(block[end]))) ++end;
  return end < block.size() && block[end] == '>' ? end + 1 : 0;
}

// Paragraph ends become "<br/>", script and style elements go whole, line-break
// tags in all their spellings become "<br/>", and every other tag ("<" and an
// ASCII letter, "/" or "!" up to the next ">") goes. Two passes, because a
// script element that goes can join what stood around it into one tag.
std::string without_tags(std::string_view block) {
  const std::string without_scripts = replace_matches(block, [](std::string_view text, size_t at) {
    if (const size_t end = paragraph_end_tag_end(text, at)) return TagMatch{end, line_break_tag};
    return TagMatch{script_element_end(text, at), {}};
  });
  // Once no ">" follows some position, none follows any later one either:
  // remembering that keeps a block full of "<" without ">" linear.
  size_t no_close_from = not_found;
  return replace_matches(without_scripts, [&no_close_from](std::string_view text, size_t at) {
    if (const size_t end = line_break_tag_end(text, at)) return TagMatch{end, line_break_tag};
    const size_t name = at + 1;
    if (name >= text.size() || name >= no_close_from) return TagMatch{};
    const auto first = static_cast<unsigned char>(text[name]);
    if (!is_ascii_letter(first) && first != '/' && first != '!') return TagMatch{};
    const size_t close = find_character(text, name, '>');
    if (close == not_found) {
      no_close_from = name;
      return TagMatch{};
    }
    return TagMatch{close + 1, {}};
  });
}

// ---- Cleaning and trimming -----------------------------------------------------------------

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

// The chapter text of a block: its tags handled, the cleaning table applied,
// the ASCII ends cut off.
Text cleaned_text(std::string_view block) {
  const std::string marked = without_tags(block);
  Text text;
  const char* source = marked.c_str();
  for (const CleaningRow& row : cleaning_table) {
    text = replace_text(source, row.find, row.replacement, std::nullopt, std::nullopt, true);
    source = text.get();
  }
  return without_ascii_ends(text);
}

// ---- Blocks -------------------------------------------------------------------------------

// One stretch of the scan: start is the 1-based position of its "<div", end that
// of the "</div>" after it.
struct Block {
  int32_t start;
  int32_t end;
};

// The stretches from a "<div" to the next "</div>", in page order, at most 500
// of them. Each search starts at the last "</div>", so a "<div" nested inside a
// stretch never starts one of its own.
class BlockScan {
 public:
  explicit BlockScan(const char* page) : page_(page ? page : ""), search_(page) {}

  std::optional<Block> next() {
    if (passes_ == most_blocks_examined) return std::nullopt;
    ++passes_;
    const int32_t start = search_.find("<div", from_, true);
    if (start < 1) return std::nullopt;
    const int32_t end = search_.find("</div>", start, true);
    if (end < 1) return std::nullopt;
    from_ = end;
    return Block{start, end};
  }

  // The block's bytes from its "<div" up to just before its "</div>".
  std::string_view bytes_of(Block block) const {
    return std::string_view(page_ + block.start - 1, size_t(block.end - block.start));
  }

  // The block's start tag, from its "<div" through the first ">" after it (there
  // is always one: the block's own "</div>" ends with it).
  std::string_view start_tag_of(Block block) const {
    const int32_t close = search_.find(">", block.start);
    return std::string_view(page_ + block.start - 1, size_t(close - block.start + 1));
  }

  bool passes_thresholds(Block block) const {
    const int32_t length = block.end - block.start;
    if (length <= shortest_block_rejected) return false;
    const unsigned char* first = search_.bytes() + (block.start - 1);
    return std::count_if(first, first + length, is_high_byte) > fewest_high_bytes_rejected;
  }

 private:
  const char* page_;
  PageSearch search_;
  int32_t from_ = 1;
  int32_t passes_ = 0;
};

Text text_of(std::string_view bytes) { return Text::adopt(copy_text_bytes(bytes.data(), int32_t(bytes.size()))); }

}  // namespace

ChapterPageText chapter_text_of(const char* page) {
  BlockScan scan(page);
  while (const std::optional<Block> block = scan.next()) {
    if (!scan.passes_thresholds(*block)) continue;
    return {cleaned_text(scan.bytes_of(*block)), text_of(scan.start_tag_of(*block))};
  }
  return {};
}

Text follow_page_text(const char* page, const char* block_start_tag) {
  const std::string_view wanted = block_start_tag ? block_start_tag : "";
  BlockScan scan(page);
  while (const std::optional<Block> block = scan.next()) {
    if (scan.start_tag_of(*block) != wanted) continue;
    Text text = cleaned_text(scan.bytes_of(*block));
    if (!text.empty()) return text;
  }
  return chapter_text_of(page).text;
}

Text chapter_text_of_page(Text page) { return chapter_text_of(searchable_page(std::move(page)).get()).text; }

Text read_chapter(const char* address, const char* name) {
  platform::com_initialize();
  const Text text = chapter_text_of_page(fetch_page(address));
  return join(name, "\r\n", text, "\r\n");
}

void extract_chapter(const char* address, int32_t n) {
  const char* name = g_book.chapter_names.at(n, chapter_lists_at);
  g_book.chapter_texts.set(n, read_chapter(address, name), chapter_lists_at);
}
