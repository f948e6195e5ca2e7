#include "novel/table_of_contents.h"

#include <string>
#include <string_view>

#include "novel/book.h"
#include "novel/page_search.h"
#include "runtime/text_commands.h"

namespace {

constexpr int32_t most_links_examined = 10000;
constexpr int32_t highest_page_number_skipped = 10;

// "最新", "_", "章", "目": the title ends before the first of them.
constexpr const char* title_cut_markers[] = {"\xd7\xee\xd0\xc2", "_", "\xd5\xc2", "\xc4\xbf"};

// The working values of a link are pieces of the page, searched as texts of
// their own (a match begins at a character start counted from the piece's
// first byte) without copying them out of the page.
using Piece = std::string_view;
constexpr size_t none = Piece::npos;

// The first match of sought in piece at or after from (0-based, a character
// start); none when there is none.
size_t find_in(Piece piece, Piece sought, size_t from = 0) {
  if (from >= piece.size()) return none;
  const size_t found = search_characters(reinterpret_cast<const unsigned char*>(piece.data()), piece.size(), from,
                                         reinterpret_cast<const unsigned char*>(sought.data()), sought.size(), false);
  return found == SIZE_MAX ? none : found;
}

// Where the table of contents lies: "http://host" (no "/" after the host) and
// the directory path from its first "/" to its last, both included ("/" for a
// page at the top of the site). Unknown when the address has no "://".
struct Site {
  std::string root;
  std::string directory_path;
  bool known = false;
};

Site site_of(Piece address) {
  Site site;
  const size_t scheme_end = find_in(address, "://");
  if (scheme_end == none) return site;
  const Piece scheme_prefix = address.substr(0, scheme_end + 3);
  // The rest runs to a second "://", if the address holds one.
  Piece rest = address.substr(scheme_end + 3);
  rest = rest.substr(0, find_in(rest, "://"));
  // An address without a "/" after the host is read as if it ended with one.
  const size_t last_slash = rest.rfind('/');
  const std::string directory_part =
      last_slash == none ? std::string(rest) + "/" : std::string(rest.substr(0, last_slash + 1));
  const size_t first_slash = find_in(directory_part, "/");
  site.root = std::string(scheme_prefix) + directory_part.substr(0, first_slash);
  site.directory_path = directory_part.substr(first_slash);
  site.known = true;
  return site;
}

// Removes "." and ".." segments from a path that starts with "/", as RFC 3986
// (5.2.4) does; ".." never climbs above the root.
std::string without_dot_segments(Piece input) {
  std::string output;
  auto drop_last_segment = [&output] {
    const size_t slash = output.rfind('/');
    output.erase(slash == std::string::npos ? 0 : slash);
  };
  while (!input.empty()) {
    if (input.starts_with("../")) {
      input.remove_prefix(3);
    } else if (input.starts_with("./")) {
      input.remove_prefix(2);
    } else if (input.starts_with("/./")) {
      input.remove_prefix(2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.starts_with("/../")) {
      input.remove_prefix(3);
      drop_last_segment();
    } else if (input == "/..") {
      input = "/";
      drop_last_segment();
    } else if (input == "." || input == "..") {
      input = {};
    } else {
      const size_t end = input.find('/', 1);
      const size_t taken = end == none ? input.size() : end;
      output.append(input.substr(0, taken));
      input.remove_prefix(taken);
    }
  }
  return output;
}

// The chapter's full address. A link starting with "h" is absolute, one
// starting with "/" belongs to the site, and any other joins the directory of
// the table of contents, with its dot segments resolved and a query or
// fragment kept as it stands.
std::string full_address(const Site& site, Piece address_part) {
  if (address_part.starts_with('h')) return std::string(address_part);
  if (address_part.starts_with('/')) return site.root + std::string(address_part);
  const size_t path_end = address_part.find_first_of("?#");
  std::string path = site.directory_path;
  path.append(address_part.substr(0, path_end));
  std::string address = site.root + without_dot_segments(path);
  if (path_end != none) address.append(address_part.substr(path_end));
  return address;
}

// The number at the start of the link's file name: the bytes after its last "/"
// up to the byte in front of "htm" (the dot of ".htm"). A relative link without
// any "/" (567.html) has its file name from its first byte; a link without "htm"
// after its file name's start has no number.
int32_t page_number_of(Piece address_part) {
  const size_t slash = address_part.rfind('/');
  size_t stem_start;
  if (slash != none) {
    stem_start = slash + 1;
  } else if (!address_part.starts_with('h')) {
    stem_start = 0;
  } else {
    return 0;
  }
  const size_t htm = find_in(address_part, "htm");
  if (htm == none || htm < stem_start + 2) return 0;
  const std::string stem(address_part.substr(stem_start, htm - 1 - stem_start));
  return to_int(stem.c_str());
}

struct Link {
  Piece address_part;
  Piece name_part;
};

// The segment up to its first "\">" is the address part, which ends before its
// first double quote (a further attribute after the address is not part of
// it); the piece between the first and the second "\">" is the name part,
// empty when there is none.
Link split_segment(Piece segment) {
  Link link{segment, {}};
  const size_t first = find_in(segment, "\">");
  if (first != none) {
    link.address_part = segment.substr(0, first);
    const size_t second = find_in(segment, "\">", first + 2);
    link.name_part = segment.substr(first + 2, second == none ? none : second - first - 2);
  }
  link.address_part = link.address_part.substr(0, find_in(link.address_part, "\""));
  return link;
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

}  // namespace

void parse_table_of_contents(const char* address, const char* page) {
  g_book.chapter_urls = Array<Text>::empty();
  g_book.chapter_names = Array<Text>::empty();
  g_book.chapter_texts = Array<Text>::empty();
  g_book.title = title_of(page);

  const Site site = site_of(address ? address : "");
  if (!site.known) return;
  const PageSearch search(page);
  int32_t from = 1;
  for (int32_t pass = 0; pass < most_links_examined; ++pass) {
    const int32_t href = search.find("href=", from);
    if (href < 1) break;
    const int32_t anchor_end = search.find("</a>", href);
    if (anchor_end < 1) break;
    // No "href=" can begin in the four bytes before this "</a>", so the next
    // search starts at the "</a>" itself, which is a character start.
    from = anchor_end;
    // The segment runs from byte href + 6 (after "href=" and the byte that
    // follows it, normally the opening quote) to just before the "</a>".
    if (anchor_end - href - 6 < 1) continue;
    const Piece segment(page + href + 5, static_cast<size_t>(anchor_end - href - 6));
    const Link link = split_segment(segment);
    if (page_number_of(link.address_part) <= highest_page_number_skipped) continue;
    const std::string chapter_address = full_address(site, link.address_part);
    const std::string name(link.name_part);
    g_book.chapter_urls.append(chapter_address.c_str());
    g_book.chapter_names.append(name.c_str());
    g_book.chapter_texts.append(name.c_str());
  }
}
