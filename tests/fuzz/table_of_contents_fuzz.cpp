// Feeds the table-of-contents parser (novel/table_of_contents.h) and the link
// scanner under it (novel/links.h). The input's first line is the address of
// the first page, the rest is that page; further pages follow after zero
// bytes, and each is read at the address the page before named as the next
// one, as the download reads them, until a page names none.
//
// Checks: every link lies inside its page, after the one before; its address
// part ends before its quote; its resolved address keeps the page's site root
// and holds no "." or ".." segment; a next page lies in the first page's
// directory and was not read yet, and at most most_contents_pages are read; the
// title holds none of its cut markers; the three chapter lists stay as long as
// each other with the names repeated; no chapter is named "上一页" or "下一页";
// after keep_last_of_repeated_chapters every address stands once, each in the
// order of its last place.
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "fuzz_input.h"
#include "novel/book.h"
#include "novel/links.h"
#include "novel/table_of_contents.h"
#include "runtime/text_commands.h"

namespace {

constexpr Location fuzz_at = {0x0401ffff, 1};

bool lies_in(std::string_view piece, std::string_view page) {
  return piece.empty() || (piece.data() >= page.data() && piece.data() + piece.size() <= page.data() + page.size());
}

bool holds_dot_segment(std::string_view path) {
  return path.find("/./") != std::string_view::npos || path.find("/../") != std::string_view::npos ||
         path.ends_with("/.") || path.ends_with("/..");
}

void check_links(const char* address, const FuzzText& page) {
  const std::string_view bytes = page.view();
  const PageLocation location = page_location_of(address);
  LinkScan scan(page.c_str());
  PageLink link;
  std::string name;
  const char* scanned_to = bytes.data();
  while (scan.next(link)) {
    FUZZ_CHECK(lies_in(link.address_part, bytes) && lies_in(link.name_part, bytes));
    if (!link.address_part.empty()) {
      FUZZ_CHECK(link.address_part.data() >= scanned_to);
      scanned_to = link.address_part.data() + link.address_part.size();
      // The address part begins right after the quote the scan skipped.
      const std::string_view quote = link.address_part.data()[-1] == '\'' ? "'" : "\"";
      FUZZ_CHECK(find_characters(link.address_part, quote) == std::string_view::npos);
    }
    link_name(link, name);
    FUZZ_CHECK(name.size() <= link.name_part.size());
    const std::string_view shown = trimmed_name(name);
    FUZZ_CHECK(lies_in(shown, name));
    if (!shown.empty()) FUZZ_CHECK(shown.find_first_of(" \t\n\v\f\r") != 0 && !shown.starts_with("\xa1\xa1"));

    if (!location.known) continue;
    const std::string full = full_address(location, link.address_part);
    const std::string_view part = link.address_part;
    if (part.starts_with('h') || part.starts_with("//")) continue;
    FUZZ_CHECK(full.starts_with(location.site_root + "/"));
    if (part.starts_with('/')) continue;
    // A relative link keeps its query or fragment as written; its path is resolved.
    const size_t path_end = part.find_first_of("?#");
    const std::string_view suffix = path_end == std::string_view::npos ? "" : part.substr(path_end);
    FUZZ_CHECK(full.ends_with(suffix));
    const std::string_view resolved = std::string_view(full).substr(
        location.site_root.size(), full.size() - location.site_root.size() - suffix.size());
    FUZZ_CHECK(!holds_dot_segment(resolved));
  }
}

std::vector<std::string> chapter_addresses() {
  const int32_t count = g_book.chapter_urls.count();
  FUZZ_CHECK(g_book.chapter_names.count() == count && g_book.chapter_texts.count() == count);
  std::vector<std::string> addresses;
  for (int32_t i = 1; i <= count; ++i) {
    const char* url = g_book.chapter_urls.at(i, fuzz_at);
    const char* name_text = g_book.chapter_names.at(i, fuzz_at);
    const char* text = g_book.chapter_texts.at(i, fuzz_at);
    const std::string_view name = name_text ? name_text : "";
    FUZZ_CHECK(name == (text ? text : ""));
    const std::string_view shown = trimmed_name(name);
    FUZZ_CHECK(shown != "\xc9\xcf\xd2\xbb\xd2\xb3" && shown != "\xcf\xc2\xd2\xbb\xd2\xb3");  // 上一页, 下一页
    addresses.emplace_back(url ? url : "");
  }
  return addresses;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  abort_on_message_box();
  create_book();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const FirstLine input = first_line(input_bytes(data, size));
  const FuzzText address(input.line);
  const std::vector<FuzzText> pages = texts_between_zeros(input.rest);
  check_links(address.c_str(), pages[0]);

  std::set<std::string> pages_read;
  Text next = read_contents_page(address.c_str(), address.c_str(), pages[0].c_str(), true, pages_read);
  // 最新, _, 章, 目
  for (const char* marker : {"\xd7\xee\xd0\xc2", "_", "\xd5\xc2", "\xc4\xbf"})
    FUZZ_CHECK(find_text(g_book.title.get(), marker) == -1);
  const PageLocation first = page_location_of(address.view());
  for (size_t k = 1; k < pages.size() && !next.empty(); ++k) {
    const std::string next_address = next.c_str();
    FUZZ_CHECK(next_address.starts_with(first.site_root + first.directory_path));
    FUZZ_CHECK(!pages_read.contains(next_address) && pages_read.size() < size_t(most_contents_pages));
    check_links(next_address.c_str(), pages[k]);
    next = read_contents_page(address.c_str(), next_address.c_str(), pages[k].c_str(), false, pages_read);
  }
  FUZZ_CHECK(pages_read.size() <= size_t(most_contents_pages));

  const std::vector<std::string> read = chapter_addresses();
  keep_last_of_repeated_chapters();
  const std::vector<std::string> kept = chapter_addresses();
  std::unordered_map<std::string, size_t> last_place;
  for (size_t i = 0; i < read.size(); ++i) last_place[read[i]] = i;
  FUZZ_CHECK(kept.size() == last_place.size());
  for (size_t i = 0; i < kept.size(); ++i) {
    FUZZ_CHECK(last_place.contains(kept[i]));
    if (i > 0) FUZZ_CHECK(last_place[kept[i - 1]] < last_place[kept[i]]);
  }
  return 0;
}
