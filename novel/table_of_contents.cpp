#include "novel/table_of_contents.h"

#include <string_view>
#include <unordered_map>
#include <vector>

#include "novel/book.h"
#include "novel/links.h"
#include "runtime/text_commands.h"

namespace {

using Piece = std::string_view;

constexpr int32_t most_links_examined = 10000;
constexpr int32_t highest_page_number_skipped = 10;
// The list indices used below always lie within the lists.
constexpr Location chapter_lists_at = {0x04010183, 0x64};

// "最新", "_", "章", "目": the title ends before the first of them.
constexpr const char* title_cut_markers[] = {"\xd7\xee\xd0\xc2", "_", "\xd5\xc2", "\xc4\xbf"};

// The names of the links that page through a list, never chapters themselves.
constexpr Piece previous_page_name = "\xc9\xcf\xd2\xbb\xd2\xb3";  // 上一页
constexpr Piece next_page_name = "\xcf\xc2\xd2\xbb\xd2\xb3";      // 下一页

// The number at the start of the link's file name: the bytes after its last "/"
// up to the byte in front of "htm" (the dot of ".htm"). A relative link without
// any "/" (567.html) has its file name from its first byte; a link without "htm"
// after its file name's start has no number.
int32_t page_number_of(Piece address_part) {
  const size_t slash = address_part.rfind('/');
  size_t stem_start;
  if (slash != Piece::npos) {
    stem_start = slash + 1;
  } else if (!address_part.starts_with('h')) {
    stem_start = 0;
  } else {
    return 0;
  }
  const size_t htm = find_characters(address_part, "htm");
  if (htm == Piece::npos || htm < stem_start + 2) return 0;
  const std::string stem(address_part.substr(stem_start, htm - 1 - stem_start));
  return to_int(stem.c_str());
}

Text title_of(const char* page) {
  const int32_t start = find_text(page, "<title>");
  const int32_t end = find_text(page, "</title>");
  Text title = mid_text(page, start + 7, end - start - 7);
  for (const char* marker : title_cut_markers) {
    const int32_t cut = find_text(title.get(), marker);
    if (cut >= 1) title = left_text(title.get(), cut - 1);
  }
  return title;
}

Piece without_fragment(Piece address) { return address.substr(0, find_characters(address, "#")); }

// For count places whose addresses address_at(i) gives (0-based), whether each
// is the last place of its address; empty when every address stands once.
template <typename AddressAt>
std::vector<bool> last_places(size_t count, AddressAt address_at) {
  std::unordered_map<Piece, size_t> last_place;
  last_place.reserve(count);
  for (size_t i = 0; i < count; ++i) last_place[address_at(i)] = i;
  if (last_place.size() == count) return {};
  std::vector<bool> is_last(count);
  for (const auto& place : last_place) is_last[place.second] = true;
  return is_last;
}

struct PageChapter {
  std::string address;
  std::string name;
};

}  // namespace

void parse_table_of_contents(const char* address, const char* page) {
  // A page reduces its own repeated addresses as it is read.
  std::set<std::string> pages_read;
  read_contents_page(address, address, page, true, pages_read);
}

Text read_contents_page(const char* first_address, const char* address, const char* page, bool first_page,
                        std::set<std::string>& pages_read) {
  if (first_page) {
    g_book.chapter_urls = Array<Text>::empty();
    g_book.chapter_names = Array<Text>::empty();
    g_book.chapter_texts = Array<Text>::empty();
    g_book.title = title_of(page);
  }
  const Piece page_address = address ? address : "";
  pages_read.emplace(without_fragment(page_address));
  const PageLocation location = page_location_of(page_address);
  if (!location.known) return {};

  // The next page must lie in the directory of the first page.
  const PageLocation first_location = page_location_of(first_address ? first_address : "");
  const std::string contents_directory = first_location.site_root + first_location.directory_path;
  bool seeking_next_page = first_location.known && pages_read.size() < size_t(most_contents_pages);
  std::string next_page;

  std::vector<PageChapter> chapters;
  LinkScan scan(page);
  PageLink link;
  std::string name;
  for (int32_t pass = 0; pass < most_links_examined && scan.next(link); ++pass) {
    const bool numbered_as_chapter = page_number_of(link.address_part) > highest_page_number_skipped;
    if (!numbered_as_chapter && !seeking_next_page) continue;
    link_name(link, name);
    const Piece shown_name = trimmed_name(name);
    if (shown_name == next_page_name) {
      if (!seeking_next_page) continue;
      const std::string target = full_address(location, link.address_part);
      const Piece target_page = without_fragment(target);
      if (target.starts_with(contents_directory) && !pages_read.contains(std::string(target_page))) {
        next_page = target_page;
        seeking_next_page = false;
      }
      continue;
    }
    if (!numbered_as_chapter || shown_name == previous_page_name) continue;
    chapters.push_back({full_address(location, link.address_part), name});
  }

  // Repeats within the page are reduced here, where they are cheap to drop;
  // keep_last_of_repeated_chapters then only has repeats across pages left.
  const std::vector<bool> is_last =
      last_places(chapters.size(), [&chapters](size_t i) { return Piece(chapters[i].address); });
  for (size_t i = 0; i < chapters.size(); ++i) {
    if (!is_last.empty() && !is_last[i]) continue;
    g_book.chapter_urls.append(chapters[i].address.c_str());
    g_book.chapter_names.append(chapters[i].name.c_str());
    g_book.chapter_texts.append(chapters[i].name.c_str());
  }
  return Text::copy_of(next_page.c_str());
}

void keep_last_of_repeated_chapters() {
  const int32_t count = g_book.chapter_urls.count();
  const std::vector<bool> is_last = last_places(size_t(count), [](size_t i) {
    const char* address = g_book.chapter_urls.at(int32_t(i) + 1, chapter_lists_at);
    return Piece(address ? address : "");
  });
  if (is_last.empty()) return;

  Array<Text> urls = Array<Text>::empty();
  Array<Text> names = Array<Text>::empty();
  Array<Text> texts = Array<Text>::empty();
  for (int32_t i = 1; i <= count; ++i) {
    if (!is_last[size_t(i) - 1]) continue;
    urls.append(g_book.chapter_urls.at(i, chapter_lists_at));
    names.append(g_book.chapter_names.at(i, chapter_lists_at));
    texts.append(g_book.chapter_texts.at(i, chapter_lists_at));
  }
  g_book.chapter_urls = std::move(urls);
  g_book.chapter_names = std::move(names);
  g_book.chapter_texts = std::move(texts);
}
