// Feeds the chapter extraction (novel/extract_chapter.h) and the follow-page
// functions (novel/links.h). The input's first line is the chapter's address,
// the rest is its page as fetched; a follow page may come after a zero byte.
// Both pages go through searchable_page, so pages that declare UTF-8 are
// converted first, as the download does.
//
// Checks: a chapter text holds a byte of 0x80 or above, has no ASCII white
// space at its ends, holds CR and LF only as CR LF pairs (characters of their
// own), holds no tag when its page has no reference and no "<" before white
// space (neither can make one), and is no longer than its page; the block's
// start tag runs from "<" to ">"; when the first page gives a text,
// follow_page_text of the same page with that tag gives one too; follow page k exists only for k from 2 to 50, and its
// address is the chapter's, cut before "?" or "#", with "_k" before the last ".".
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "novel/extract_chapter.h"
#include "novel/links.h"
#include "platform/code_page_936.h"
#include "web/utf8_to_local.h"

namespace {

bool is_white_space(unsigned char byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }

bool is_tag_start(std::string_view bytes, size_t at) {
  if (bytes[at] != '<' || at + 1 >= bytes.size()) return false;
  const auto next = static_cast<unsigned char>(bytes[at + 1]);
  const bool starts = ((next | 0x20) >= 'a' && (next | 0x20) <= 'z') || next == '/' || next == '!';
  return starts && find_characters(bytes.substr(at + 1), ">") != std::string_view::npos;
}

// True when the page may give a tag in its text: a reference can give "<" and
// ">", and white space deleted after a "<" that starts no tag can join it to
// what follows.
bool may_give_tags(std::string_view page) {
  if (page.find('&') != std::string_view::npos) return true;
  for (size_t at = page.find('<'); at != std::string_view::npos; at = page.find('<', at + 1)) {
    if (at + 1 < page.size() && is_white_space(static_cast<unsigned char>(page[at + 1]))) return true;
  }
  return false;
}

void check_chapter_text(const Text& text, std::string_view page) {
  if (text.empty()) return;
  const std::string_view bytes = text.c_str();
  FUZZ_CHECK(bytes.size() <= page.size());
  FUZZ_CHECK(
      std::any_of(bytes.begin(), bytes.end(), [](char byte) { return static_cast<unsigned char>(byte) >= 0x80; }));
  FUZZ_CHECK(!is_white_space(static_cast<unsigned char>(bytes.front())));
  const bool tags_possible = may_give_tags(page);
  size_t last_start = 0;
  for (size_t at = 0; at < bytes.size();) {
    const size_t width = character_width(bytes.data(), at, bytes.size());
    last_start = at;
    if (width == 1) {
      if (bytes[at] == '\r') FUZZ_CHECK(at + 1 < bytes.size() && bytes[at + 1] == '\n');
      if (bytes[at] == '\n') FUZZ_CHECK(at > 0 && bytes[at - 1] == '\r');
      if (!tags_possible) FUZZ_CHECK(!is_tag_start(bytes, at));
    }
    at += width;
  }
  FUZZ_CHECK(bytes.size() - last_start == 2 || !is_white_space(static_cast<unsigned char>(bytes.back())));
}

void check_follow_page_address(std::string_view address) {
  const FuzzText chapter(address);
  FUZZ_CHECK(follow_page_address(chapter.c_str(), 1).empty() && follow_page_address(chapter.c_str(), 51).empty());
  const Text follow = follow_page_address(chapter.c_str(), 50);
  if (follow.empty()) return;
  const std::string_view cut =
      address.substr(0, std::min(find_characters(address, "?"), find_characters(address, "#")));
  const std::string_view made = follow.c_str();
  const size_t dot = made.rfind('.');
  FUZZ_CHECK(dot != std::string_view::npos && dot >= 3 && made.substr(dot - 3, 3) == "_50");
  FUZZ_CHECK(std::string(made.substr(0, dot - 3)).append(made.substr(dot)) == cut);
  FUZZ_CHECK(made.substr(0, dot - 3).rfind('/') != std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  abort_on_message_box();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const FirstLine input = first_line(input_bytes(data, size));
  const FuzzText address(input.line);
  const std::vector<FuzzText> pages = texts_between_zeros(input.rest);

  const Text page = searchable_page(Text::copy_of(pages[0].c_str()));
  const ChapterPageText first = chapter_text_of(page.get());
  check_chapter_text(first.text, page.c_str());
  const std::string_view tag = first.block_start_tag.c_str();
  if (!tag.empty()) FUZZ_CHECK(tag.size() >= 4 && tag.front() == '<' && tag.back() == '>');
  const Text same_page = follow_page_text(page.get(), first.block_start_tag.get());
  check_chapter_text(same_page, page.c_str());
  if (!first.text.empty()) FUZZ_CHECK(!same_page.empty());

  check_follow_page_address(address.view());
  const Text follow = follow_page_address(address.c_str(), 2);
  page_links_to(page.get(), address.c_str(), follow.get());
  if (pages.size() > 1) {
    const Text next = searchable_page(Text::copy_of(pages[1].c_str()));
    check_chapter_text(follow_page_text(next.get(), first.block_start_tag.get()), next.c_str());
  }
  return 0;
}
