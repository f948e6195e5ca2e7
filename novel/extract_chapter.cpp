#include "novel/extract_chapter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "novel/book.h"
#include "platform/system.h"
#include "platform/code_page_936.h"
#include "runtime/text_search.h"
#include "web/fetch_page.h"
#include "web/utf8_to_local.h"

namespace {

constexpr uint64_t fewest_high_bytes_rejected = 600;
constexpr Location chapter_lists_at = {0x04010184, 0x4d};

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

bool is_ascii_letter_or_digit(unsigned char byte) { return is_ascii_letter(byte) || (byte >= '0' && byte <= '9'); }

// True when a tag name can end at position at: a tag's name is the run of
// ASCII letters and digits after its "<" or "</", so "<scripts>" names no
// script element.
bool tag_name_ends_at(std::string_view block, size_t at) {
  return at == block.size() || !is_ascii_letter_or_digit(static_cast<unsigned char>(block[at]));
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
  out.reserve(block.size() + 64);
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

// "</p" or "</h1" to "</h6", any white space, ">": the end of a paragraph or a
// heading, a line break.
size_t paragraph_end_tag_end(std::string_view block, size_t at) {
  size_t end;
  if (spells_at(block, at, "</p")) {
    end = at + 3;
  } else if (spells_at(block, at, "</h") && block.size() - at > 3 && block[at + 3] >= '1' && block[at + 3] <= '6') {
    end = at + 4;
  } else {
    return 0;
  }
  while (end < block.size() && is_ascii_white_space(static_cast<unsigned char>(block[end]))) ++end;
  return end < block.size() && block[end] == '>' ? end + 1 : 0;
}

// The end of the script or style element whose start tag begins at at, just
// after its end tag; its content is never prose. An element without an end tag
// runs to the end of the text. 0 when no such start tag begins at at.
size_t script_element_end(std::string_view block, size_t at) {
  static constexpr std::string_view elements[][2] = {{"<script", "</script"}, {"<style", "</style"}};
  for (const auto& [start_tag, end_tag] : elements) {
    if (!spells_at(block, at, start_tag) || !tag_name_ends_at(block, at + start_tag.size())) continue;
    // Without a ">" the start tag is no tag at all.
    if (find_character(block, at + start_tag.size(), '>') == not_found) return 0;
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

// A block's content: as it stands in the page, or a copy with its nested
// containers replaced when it has any.
struct BlockContent {
  std::string copy;
  std::string_view page;

  std::string_view bytes() const { return copy.empty() ? page : copy; }
};

// Paragraph ends become "<br/>", script and style elements go whole, line-break
// tags in all their spellings become "<br/>", and every other tag ("<" and an
// ASCII letter, "/" or "!" up to the next ">") goes. Two passes, because a
// script element that goes can join what stood around it into one tag.
std::string without_tags(BlockContent block) {
  std::string without_scripts = replace_matches(block.bytes(), [](std::string_view text, size_t at) {
    if (const size_t end = paragraph_end_tag_end(text, at)) return TagMatch{end, line_break_tag};
    return TagMatch{script_element_end(text, at), {}};
  });
  block.copy = std::string();  // only one copy of a large block at a time
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

// ---- References ---------------------------------------------------------------------------

// What a reference at some position gives: length bytes of the text, replaced
// by bytes, or by the character of unit (a numeric reference that is not ASCII).
struct Reference {
  size_t length = 0;  // 0: no reference starts there
  std::string_view bytes;
  char16_t unit = 0;
};

bool is_ascii_digit(unsigned char byte) { return byte >= '0' && byte <= '9'; }

int hex_digit_value(unsigned char byte) {
  if (is_ascii_digit(byte)) return byte - '0';
  const unsigned char lower = byte | 0x20;
  return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// The reference that begins at at ("&"): the five named ones of markup,
// "&emsp;", and numeric ones ("&#" and 1 to 7 decimal digits, or "&#x" and 1
// to 6 hexadecimal digits, then ";"), whose character gets its stand-in.
// Named references are matched as written, in lower case.
Reference reference_at(std::string_view text, size_t at) {
  static constexpr std::string_view named[][2] = {{"&quot;", "\""}, {"&apos;", "'"}, {"&lt;", "<"},
                                                  {"&gt;", ">"},    {"&amp;", "&"},  {"&emsp;", "\xa1\xa1"}};
  const std::string_view rest = text.substr(at);
  for (const auto& [name, bytes] : named) {
    if (rest.starts_with(name)) return {name.size(), bytes, 0};
  }
  if (!rest.starts_with("&#")) return {};
  const bool hexadecimal = rest.size() > 2 && (rest[2] | 0x20) == 'x';
  const size_t most_digits = hexadecimal ? 6 : 7;
  size_t end = hexadecimal ? 3 : 2;
  uint32_t code = 0;
  for (; end < rest.size() && end - (hexadecimal ? 3 : 2) < most_digits; ++end) {
    const auto byte = static_cast<unsigned char>(rest[end]);
    const int digit = hexadecimal ? hex_digit_value(byte) : (is_ascii_digit(byte) ? byte - '0' : -1);
    if (digit < 0) break;
    code = code * (hexadecimal ? 16 : 10) + uint32_t(digit);
  }
  if (end == (hexadecimal ? 3u : 2u) || end >= rest.size() || rest[end] != ';') return {};
  const char16_t unit = local_stand_in(code);
  static constexpr std::array<char, 128> ascii = [] {
    std::array<char, 128> bytes{};
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i);
    return bytes;
  }();
  if (unit == 0) return {end + 1, {}, 0};  // a character that goes
  if (unit < 0x80) return {end + 1, std::string_view(ascii.data() + unit, 1), 0};
  return {end + 1, {}, unit};
}

// Replaces the text's references, in one pass from left to right: what a
// reference gives is not read again ("&amp;lt;" gives "&lt;"). The characters
// of numeric references are converted all at once.
void decode_references(std::string& text) {
  if (text.find('&') == std::string::npos) return;
  std::u16string units;
  bool any = false;
  for (size_t at = find_character(text, 0, '&'); at != not_found;) {
    const Reference reference = reference_at(text, at);
    if (reference.unit != 0) units.push_back(reference.unit);
    any = any || reference.length != 0;
    at = find_character(text, at + std::max<size_t>(reference.length, 1), '&');
  }
  if (!any) return;
  const std::string characters = units_to_local(units);
  size_t next_character = 0;
  // No reference is shorter than what it gives, so this works in place.
  size_t kept = 0;
  size_t copied = 0;
  auto keep = [&text, &kept](std::string_view bytes) {
    if (bytes.empty()) return;
    std::memmove(text.data() + kept, bytes.data(), bytes.size());
    kept += bytes.size();
  };
  for (size_t at = find_character(text, 0, '&'); at != not_found;) {
    const Reference reference = reference_at(text, at);
    if (reference.length == 0) {
      at = find_character(text, at + 1, '&');
      continue;
    }
    keep(std::string_view(text).substr(copied, at - copied));
    if (reference.unit == 0) {
      keep(reference.bytes);
    } else if (next_character < characters.size()) {
      const size_t width = character_width(characters.data(), next_character, characters.size());
      keep(std::string_view(characters).substr(next_character, width));
      next_character += width;
    } else {
      keep("?");
    }
    copied = at + reference.length;
    at = find_character(text, copied, '&');
  }
  keep(std::string_view(text).substr(copied));
  text.resize(kept);
}

// ---- Line ends, line breaks, trimming ------------------------------------------------------

// "&nbsp;", blanks, tabs, CR and LF go (the page's own line ends are never
// line ends of the text); then "<br/><br/>" and every other "<br/>" become one
// CR LF each.
void sort_out_line_breaks(std::string& text) {
  // Both steps only ever shorten the text, so they work in place.
  size_t kept = 0;
  for (size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n') {
      ++at;
    } else if (byte == '&' && text.compare(at, 6, "&nbsp;") == 0) {
      at += 6;
    } else {
      const size_t width = character_width(text.data(), at, text.size());
      for (size_t i = 0; i < width; ++i) text[kept++] = text[at++];
    }
  }
  text.resize(kept);
  kept = 0;
  for (size_t at = 0; at < text.size();) {
    if (text[at] == '<' && text.compare(at, line_break_tag.size(), line_break_tag) == 0) {
      at += line_break_tag.size();
      if (text.compare(at, line_break_tag.size(), line_break_tag) == 0) at += line_break_tag.size();
      text[kept++] = '\r';
      text[kept++] = '\n';
      continue;
    }
    const size_t width = character_width(text.data(), at, text.size());
    for (size_t i = 0; i < width; ++i) text[kept++] = text[at++];
  }
  text.resize(kept);
}

// The text without the ASCII white space at its two ends (whole characters);
// empty when it holds no byte of 0x80 or above.
Text trimmed(std::string_view text) {
  size_t first = 0;
  while (first < text.size() && is_ascii_white_space(static_cast<unsigned char>(text[first]))) ++first;
  size_t end = first;
  bool has_high_byte = false;
  for (size_t at = first; at < text.size();) {
    const size_t width = character_width(text.data(), at, text.size());
    for (size_t i = 0; i < width; ++i)
      has_high_byte = has_high_byte || is_high_byte(static_cast<unsigned char>(text[at + i]));
    if (width == 2 || !is_ascii_white_space(static_cast<unsigned char>(text[at]))) end = at + width;
    at += width;
  }
  if (!has_high_byte) return Text();
  return Text::adopt(copy_text_bytes(text.data() + first, int32_t(end - first)));
}

// The chapter text of a block's content: tags handled, references decoded,
// line ends and line breaks sorted out, the white space at the ends trimmed.
Text cleaned_text(BlockContent content) {
  std::string text = without_tags(std::move(content));
  decode_references(text);
  sort_out_line_breaks(text);
  return trimmed(text);
}

// ---- Containers ----------------------------------------------------------------------------
//
// The page is read once, from start to end, as text and tags. Containers (div,
// td, article, section, main, body) nest; every other element is ignored,
// except that links ("a" elements) and script and style elements hold no text
// of the container they stand in. A container's score is the number of bytes
// of 0x80 and above in its own text. Only the containers still open are kept,
// with the places of the containers nested directly in them, so memory grows
// with the depth of the page and the number of those places, not with the page.

enum class ContainerName : uint8_t { div, td, article, section, main, body };

// True when the tag name is lower_case in any case.
bool names(std::string_view name, std::string_view lower_case) {
  return name.size() == lower_case.size() &&
         std::equal(name.begin(), name.end(), lower_case.begin(),
                    [](char a, char b) { return g_lower_case_map[static_cast<unsigned char>(a)] == b; });
}

// The container that a tag name names, if any.
std::optional<ContainerName> container_named(std::string_view name) {
  static constexpr std::pair<std::string_view, ContainerName> containers[] = {
      {"div", ContainerName::div},         {"td", ContainerName::td},     {"article", ContainerName::article},
      {"section", ContainerName::section}, {"main", ContainerName::main}, {"body", ContainerName::body}};
  for (const auto& [known, container] : containers) {
    if (names(name, known)) return container;
  }
  return std::nullopt;
}

// A nested container, from its start tag to where it ends.
struct Span {
  size_t begin;
  size_t end;
};

struct OpenContainer {
  ContainerName name;
  size_t begin;          // its start tag's "<"
  size_t content_begin;  // just after its start tag
  size_t first_child;    // where its children's spans begin in ContainerScan::children_
  uint64_t score = 0;
  uint64_t order;  // its place among the containers, in page order
};

// What a scan found: the block (the highest score above 600, the first of
// equal ones) and, when a start tag was asked for, the text of the first
// container with that start tag whose text is not empty.
struct ScanResult {
  BlockContent block_content;
  std::string_view block_start_tag;
  bool has_block = false;
  Text tagged_text;
};

class ContainerScan {
 public:
  // wanted_start_tag: the start tag whose container's text is sought; empty
  // when none is.
  ContainerScan(std::string_view page, std::string_view wanted_start_tag) : page_(page), wanted_(wanted_start_tag) {}

  ScanResult run() {
    size_t at = 0;
    while (at < page_.size()) {
      at = count_text(at);
      if (at == page_.size()) break;
      at = read_tag(at);
    }
    close_down_to(0, page_.size());
    return std::move(result_);
  }

 private:
  // Counts the text from at to the next "<" (at a character start) for the
  // innermost container, unless a link holds it; returns where the "<" stands.
  size_t count_text(size_t at) {
    uint64_t high_bytes = 0;
    while (at < page_.size() && page_[at] != '<') {
      const size_t width = character_width(page_.data(), at, page_.size());
      high_bytes += is_high_byte(static_cast<unsigned char>(page_[at]));
      if (width == 2) high_bytes += is_high_byte(static_cast<unsigned char>(page_[at + 1]));
      at += width;
    }
    if (!open_.empty() && link_depth_ == 0) open_.back().score += high_bytes;
    return at;
  }

  // Reads what begins with the "<" at at and returns where reading goes on: after
  // the tag, after a whole script or style element, or after the "<" when it
  // starts no tag (then it is text, with no byte of 0x80 or above).
  size_t read_tag(size_t at) {
    const size_t after = at + 1;
    if (after >= page_.size() || after >= no_close_from_) return after;
    const auto first = static_cast<unsigned char>(page_[after]);
    if (!is_ascii_letter(first) && first != '/' && first != '!') return after;
    const size_t close = find_character(page_, after, '>');
    if (close == not_found) {
      // No ">" follows here, so none follows any later "<" either.
      no_close_from_ = after;
      return after;
    }
    const bool end_tag = first == '/';
    size_t name_end = end_tag ? after + 1 : after;
    while (name_end < close && is_ascii_letter_or_digit(static_cast<unsigned char>(page_[name_end]))) ++name_end;
    const std::string_view name = page_.substr(end_tag ? after + 1 : after, name_end - after - (end_tag ? 1 : 0));
    if (!end_tag && (names(name, "script") || names(name, "style")))
      return std::max(script_element_end(page_, at), close + 1);
    if (names(name, "a")) {
      if (end_tag) {
        link_depth_ = 0;
      } else if (link_depth_ == 0) {
        link_depth_ = open_.size() + 1;
      }
    } else if (const std::optional<ContainerName> container = container_named(name)) {
      if (end_tag) {
        close_named(*container, at);
      } else {
        open_.push_back({*container, at, close + 1, children_.size(), 0, next_order_++});
        ++open_counts_[size_t(*container)];
      }
    }
    return close + 1;
  }

  // An end tag at at: closes the innermost open container of its name and
  // every one opened inside it; ignored when none is open.
  void close_named(ContainerName name, size_t at) {
    // Without the count, end tags of no open container would each walk the
    // whole stack; with it, every step of a walk closes a container.
    if (open_counts_[size_t(name)] == 0) return;
    for (size_t i = open_.size(); i > 0; --i) {
      if (open_[i - 1].name == name) {
        close_down_to(i - 1, at);
        return;
      }
    }
  }

  // Closes the open containers from the innermost down to index depth; they
  // end at end. A link that began inside one of them ends with it.
  void close_down_to(size_t depth, size_t end) {
    while (open_.size() > depth) {
      close_innermost(end);
      if (link_depth_ != 0 && open_.size() + 1 < link_depth_) link_depth_ = 0;
    }
  }

  void close_innermost(size_t end) {
    const OpenContainer container = open_.back();
    open_.pop_back();
    --open_counts_[size_t(container.name)];
    const std::string_view start_tag = page_.substr(container.begin, container.content_begin - container.begin);
    const bool is_block = container.score > fewest_high_bytes_rejected &&
                          (!result_.has_block || container.score > block_score_ ||
                           (container.score == block_score_ && container.order < block_order_));
    const bool is_tagged = !wanted_.empty() && start_tag == wanted_ && container.order < tagged_order_;
    if (is_block || is_tagged) {
      BlockContent content = content_of(container, end);
      if (is_tagged) {
        if (Text text = cleaned_text(is_block ? content : std::move(content)); !text.empty()) {
          result_.tagged_text = std::move(text);
          tagged_order_ = container.order;
        }
      }
      if (is_block) {
        result_.block_content = std::move(content);
        result_.block_start_tag = start_tag;
        result_.has_block = true;
        block_score_ = container.score;
        block_order_ = container.order;
      }
    }
    children_.resize(container.first_child);
    if (!open_.empty()) children_.push_back({container.begin, end});
  }

  // The container's content up to end, each nested container replaced by
  // "<br/>" so that the text on either side never runs together; no copy
  // when nothing is nested in it.
  BlockContent content_of(const OpenContainer& container, size_t end) const {
    if (children_.size() == container.first_child)
      return {std::string(), page_.substr(container.content_begin, end - container.content_begin)};
    std::string content;
    size_t copied = container.content_begin;
    for (size_t i = container.first_child; i < children_.size(); ++i) {
      content.append(page_.substr(copied, children_[i].begin - copied));
      content.append(line_break_tag);
      copied = children_[i].end;
    }
    content.append(page_.substr(copied, end - copied));
    return {std::move(content), {}};
  }

  std::string_view page_;
  std::string_view wanted_;
  std::vector<OpenContainer> open_;
  std::vector<Span> children_;
  std::array<size_t, 6> open_counts_{};  // open containers of each name
  size_t link_depth_ = 0;                // the number of open containers when the link began, plus 1; 0 outside links
  size_t no_close_from_ = not_found;
  uint64_t next_order_ = 0;
  uint64_t block_score_ = 0;
  uint64_t block_order_ = 0;
  uint64_t tagged_order_ = UINT64_MAX;
  ScanResult result_;
};

Text text_of(std::string_view bytes) { return Text::adopt(copy_text_bytes(bytes.data(), int32_t(bytes.size()))); }

std::string_view view_of(const char* text) { return text ? std::string_view(text) : std::string_view(); }

// ---- Title echoes --------------------------------------------------------------------------

// The text without blanks, tabs and full-width blanks (whole characters).
std::string without_blanks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const size_t width = character_width(text.data(), at, text.size());
    const std::string_view character = text.substr(at, width);
    if (character != " " && character != "\t" && character != "\xa1\xa1") out.append(character);
    at += width;
  }
  return out;
}

// A chapter name as its echo in the text would read: references decoded,
// "&nbsp;", CR and LF gone, and no blanks.
std::string name_as_text(std::string_view name) {
  std::string decoded(name);
  decode_references(decoded);
  std::string out;
  out.reserve(decoded.size());
  for (size_t at = 0; at < decoded.size();) {
    if (decoded.compare(at, 6, "&nbsp;") == 0) {
      at += 6;
      continue;
    }
    const size_t width = character_width(decoded.data(), at, decoded.size());
    if (width == 1 && (decoded[at] == '\r' || decoded[at] == '\n')) {
      ++at;
      continue;
    }
    out.append(decoded, at, width);
    at += width;
  }
  return without_blanks(out);
}

}  // namespace

ChapterPageText chapter_text_of(const char* page) {
  ScanResult scan = ContainerScan(view_of(page), {}).run();
  if (!scan.has_block) return {};
  return {cleaned_text(std::move(scan.block_content)), text_of(scan.block_start_tag)};
}

Text follow_page_text(const char* page, const char* block_start_tag) {
  ScanResult scan = ContainerScan(view_of(page), view_of(block_start_tag)).run();
  if (!scan.tagged_text.empty()) return std::move(scan.tagged_text);
  return scan.has_block ? cleaned_text(std::move(scan.block_content)) : Text();
}

Text chapter_text_of_page(Text page) { return chapter_text_of(searchable_page(std::move(page)).get()).text; }

Text without_title_echo(const char* name, const char* text) {
  const std::string_view chapter = view_of(text);
  const auto* bytes = reinterpret_cast<const unsigned char*>(chapter.data());
  const size_t line_end = chapter.empty() ? SIZE_MAX
                                          : search_characters(bytes, chapter.size(), 0,
                                                              reinterpret_cast<const unsigned char*>("\r\n"), 2, false);
  if (line_end == SIZE_MAX) return Text::copy_of(text);
  size_t rest = line_end + 2;
  const std::string echo = name_as_text(view_of(name));
  if (echo.empty() || without_blanks(chapter.substr(0, line_end)) != echo ||
      std::none_of(chapter.begin() + rest, chapter.end(),
                   [](char byte) { return is_high_byte(static_cast<unsigned char>(byte)); }))
    return Text::copy_of(text);
  while (chapter.substr(rest, 2) == "\r\n") rest += 2;
  return text_of(chapter.substr(rest));
}

Text read_chapter(const char* address, const char* name) {
  platform::com_initialize();
  const Text text = chapter_text_of_page(fetch_page(address));
  return join(name, "\r\n", text, "\r\n");
}

void extract_chapter(const char* address, int32_t n) {
  const char* name = g_book.chapter_names.at(n, chapter_lists_at);
  g_book.chapter_texts.set(n, read_chapter(address, name), chapter_lists_at);
}
