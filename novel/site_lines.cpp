#include "novel/site_lines.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/code_page_936.h"
#include "runtime/text_search.h"

namespace {

constexpr size_t fewest_texts_examined = 4;
constexpr size_t fewest_chapters_of_a_site_line = 3;
constexpr int32_t shortest_site_line = 8;  // characters

bool is_ascii_white_space(unsigned char byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }

struct Line {
  std::string_view bytes;
  std::string_view key;
  // The key's length in characters, counted no further than a site line needs.
  int32_t key_characters = 0;
};

bool is_full_width_space(const unsigned char* bytes) { return bytes[0] == 0xA1 && bytes[1] == 0xA1; }

// The lines of a text in order. Lines are found with the runtime's search by
// characters; only the ends of a line are looked at to find its key.
class LineWalk {
 public:
  explicit LineWalk(const Text& text)
      : bytes_(reinterpret_cast<const unsigned char*>(text.c_str())), length_(size_t(text.length())) {}

  // The next line; false after the last one.
  bool next(Line& line) {
    if (next_line_ > length_) return false;
    const size_t begin = next_line_;
    size_t end = search_characters(bytes_, length_, begin, reinterpret_cast<const unsigned char*>("\r\n"), 2, false);
    if (end == SIZE_MAX) {
      end = length_;
      next_line_ = length_ + 1;
    } else {
      next_line_ = end + 2;
    }
    const auto* text = reinterpret_cast<const char*>(bytes_);
    const size_t key_begin = first_after_blanks(begin, end);
    const size_t key_end = last_before_blanks(key_begin, end);
    line.bytes = std::string_view(text + begin, end - begin);
    line.key = std::string_view(text + key_begin, key_end - key_begin);
    line.key_characters = characters_up_to(key_begin, key_end, shortest_site_line);
    return true;
  }

 private:
  // The first character start at or after begin (a character start) that is no blank.
  size_t first_after_blanks(size_t begin, size_t end) const {
    while (begin < end) {
      if (is_ascii_white_space(bytes_[begin]))
        begin += 1;
      else if (end - begin >= 2 && is_full_width_space(bytes_ + begin))
        begin += 2;
      else
        break;
    }
    return begin;
  }

  // The end of the last character before end that is no blank; begin is a
  // character start. A byte at the end counts as a blank only when it is a
  // character of its own (or the two bytes A1 A1 are one character).
  size_t last_before_blanks(size_t begin, size_t end) const {
    while (end > begin) {
      if (is_ascii_white_space(bytes_[end - 1]) && is_character_boundary(bytes_, begin, end - 1))
        end -= 1;
      else if (end - begin >= 2 && is_full_width_space(bytes_ + end - 2) &&
               is_character_boundary(bytes_, begin, end - 2))
        end -= 2;
      else
        break;
    }
    return end;
  }

  // The number of characters from begin (a character start) to end, counted
  // only as far as enough: no character is longer than two bytes, so
  // 2 * enough bytes always hold enough of them.
  int32_t characters_up_to(size_t begin, size_t end, int32_t enough) const {
    if (end - begin >= 2 * size_t(enough)) return enough;
    int32_t characters = 0;
    for (size_t at = begin; at < end; ++characters) at += character_width(bytes_, at, end);
    return characters;
  }

  const unsigned char* bytes_;
  size_t length_;
  size_t next_line_ = 0;
};

// How many chapters a key stands in, and the last chapter that counted it, so
// that each chapter counts once.
struct KeyCount {
  size_t chapters = 0;
  size_t last_chapter = SIZE_MAX;
};

// The keys of site lines. They are copies, since the texts they were found in
// are replaced while they are still looked up, and their lengths are kept so
// that most lines are passed over without hashing them.
class SiteKeys {
 public:
  explicit SiteKeys(std::vector<std::string> keys) : storage_(std::move(keys)) {
    for (const std::string& key : storage_) {
      keys_.insert(key);
      if (key.size() >= lengths_.size()) lengths_.resize(key.size() + 1);
      lengths_[key.size()] = true;
    }
  }
  // The set holds views of the strings: a copy would point into the original.
  SiteKeys(const SiteKeys&) = delete;
  SiteKeys& operator=(const SiteKeys&) = delete;

  bool empty() const { return storage_.empty(); }
  bool contains(std::string_view key) const {
    return key.size() < lengths_.size() && lengths_[key.size()] && keys_.contains(key);
  }

 private:
  std::vector<std::string> storage_;
  std::unordered_set<std::string_view> keys_;
  std::vector<bool> lengths_;
};

// The keys of at least eight characters that stand in at least half of the
// chapters_with_text texts, and in three at the least.
SiteKeys site_line_keys(std::span<Text> texts, size_t chapters_with_text) {
  const size_t fewest_chapters = std::max(fewest_chapters_of_a_site_line, (chapters_with_text + 1) / 2);
  std::unordered_map<std::string_view, KeyCount> counts;
  for (size_t chapter = 0; chapter < texts.size(); ++chapter) {
    if (texts[chapter].empty()) continue;
    LineWalk walk(texts[chapter]);
    Line line;
    while (walk.next(line)) {
      if (line.key_characters < shortest_site_line) continue;
      KeyCount& count = counts[line.key];
      if (count.last_chapter == chapter) continue;
      count.last_chapter = chapter;
      ++count.chapters;
    }
  }
  std::vector<std::string> keys;
  for (const auto& [key, count] : counts) {
    if (count.chapters >= fewest_chapters) keys.emplace_back(key);
  }
  return SiteKeys(std::move(keys));
}

// The text's lines without its site lines, joined by CR LF; nullopt when it has
// no site line. kept is working room, reused from text to text.
std::optional<Text> without_site_lines(const Text& text, const SiteKeys& site_keys,
                                       std::vector<std::string_view>& kept) {
  kept.clear();
  bool removed = false;
  bool keeps_a_key = false;
  LineWalk walk(text);
  Line line;
  while (walk.next(line)) {
    if (line.key_characters >= shortest_site_line && site_keys.contains(line.key)) {
      removed = true;
      continue;
    }
    kept.push_back(line.bytes);
    keeps_a_key = keeps_a_key || !line.key.empty();
  }
  if (!removed) return std::nullopt;
  if (!keeps_a_key) return Text();
  std::string joined;
  joined.reserve(size_t(text.length()));
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) joined += "\r\n";
    joined += kept[i];
  }
  return Text::adopt(copy_text_bytes(joined.data(), int32_t(joined.size())));
}

}  // namespace

void remove_site_lines(std::span<Text> texts) {
  const auto chapters_with_text =
      size_t(std::count_if(texts.begin(), texts.end(), [](const Text& text) { return !text.empty(); }));
  if (chapters_with_text < fewest_texts_examined) return;
  const SiteKeys site_keys = site_line_keys(texts, chapters_with_text);
  if (site_keys.empty()) return;
  std::vector<std::string_view> kept;
  for (Text& text : texts) {
    if (text.empty()) continue;
    if (std::optional<Text> cleaned = without_site_lines(text, site_keys, kept)) text = std::move(*cleaned);
  }
}
