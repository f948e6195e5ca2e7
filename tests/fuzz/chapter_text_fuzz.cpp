// Feeds the chapter extraction (novel/extract_chapter.h) and the follow-page
// functions (novel/links.h). The input's first line is the chapter's address,
// the rest is its page as fetched; a follow page may come after a zero byte.
// Both pages go through searchable_page, so pages that declare UTF-8 are
// converted first, as the download does.
//
// Checks: a chapter text begins and ends with a byte of 0x80 or above, holds no
// "<", ">", "/" or blank as a character of its own (the cleaning removes them
// all) and is no longer than its page; the block's start tag is "<div" up to a
// ">"; when the first page gives a text, follow_page_text of the same page with
// that tag gives one too; follow page k exists only for k from 2 to 50, and its
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

void check_chapter_text(const Text& text, size_t page_length) {
  if (text.empty()) return;
  const std::string_view bytes = text.c_str();
  FUZZ_CHECK(bytes.size() <= page_length);
  FUZZ_CHECK(static_cast<unsigned char>(bytes.front()) >= 0x80 && static_cast<unsigned char>(bytes.back()) >= 0x80);
  for (size_t at = 0; at < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[at]);
    if (character_width(bytes.data(), at, bytes.size()) == 2) {
      at += 2;
      continue;
    }
    FUZZ_CHECK(byte != '<' && byte != '>' && byte != '/' && byte != ' ');
    at += 1;
  }
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
  check_chapter_text(first.text, size_t(page.length()));
  const std::string_view tag = first.block_start_tag.c_str();
  if (!tag.empty()) {
    FUZZ_CHECK(tag.size() >= 5 && tag[0] == '<' && (tag[1] | 0x20) == 'd' && (tag[2] | 0x20) == 'i' &&
               (tag[3] | 0x20) == 'v');
    FUZZ_CHECK(tag.back() == '>');
  }
  const Text same_page = follow_page_text(page.get(), first.block_start_tag.get());
  check_chapter_text(same_page, size_t(page.length()));
  if (!first.text.empty()) FUZZ_CHECK(!same_page.empty());

  check_follow_page_address(address.view());
  const Text follow = follow_page_address(address.c_str(), 2);
  page_links_to(page.get(), address.c_str(), follow.get());
  if (pages.size() > 1) {
    const Text next = searchable_page(Text::copy_of(pages[1].c_str()));
    check_chapter_text(follow_page_text(next.get(), first.block_start_tag.get()), size_t(next.length()));
  }
  return 0;
}
