// Links in a page, found and resolved the way the table of contents reads them.
//
// A page is never parsed as a document. A link begins at "href" followed by any
// blanks (space, tab, CR, LF), "=" and any blanks; the byte after those,
// normally the opening quote, is skipped, and the link's segment runs from the
// byte after it to just before the first "</a>" after "href". The separator is
// "'>" when the skipped byte is "'", otherwise "\">". The segment up to its first
// separator is the address part, which ends before its first quote of the same
// kind (so a further attribute after the address is not part of it); all of the
// segment after the separator is the name part, empty when there is no separator.
// A scan moves forward only: after a link it goes on from that link's "</a>", so
// an "href" inside a segment is no link of its own, and it ends at the first link
// that has no "</a>" after it.
//
// An address part is resolved against the address of the page it stands on: one
// that starts with "h" is already full; "//host/x" takes the page's scheme; one
// that starts with "/" joins the page's site root ("http://host"); any other
// joins the site root and the page's directory path, with "./" and "../"
// resolved. A page address without "://" places no link; one without a "/" after
// the host is read as if it ended with one.
//
// Texts are code page 936: searches step over whole characters (a lead byte,
// platform/code_page_936.h, starts a two-byte character), so a match never
// begins on the second byte of one. Pieces are views into the page and live as long as it does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "novel/page_search.h"
#include "runtime/texts.h"

// The first match of sought in piece at or after from (0-based, a character
// start, searched as if the piece were a text of its own); npos when none.
size_t find_characters(std::string_view piece, std::string_view sought, size_t from = 0);

// Where a page lies: its scheme ("http"), its site root ("http://host", with the
// port when one is given; no "/" after the host) and its directory path, from
// the first "/" after the host to the last one, both included ("/" for a page at
// the top of the site). Unknown when the address has no "://".
struct PageLocation {
  std::string scheme;
  std::string site_root;
  std::string directory_path;
  bool known = false;
};
PageLocation page_location_of(std::string_view address);

// The full address of a link's address part on a page at location (known).
std::string full_address(const PageLocation& location, std::string_view address_part);

// One link of a page, as the scan found it.
struct PageLink {
  std::string_view address_part;
  // After the separator, tags still in; link_name gives the link's name.
  std::string_view name_part;
};

// The links of a page in page order, in one forward pass.
class LinkScan {
 public:
  explicit LinkScan(const char* page) : search_(page) {}
  // Stores the next link and returns true; false when the scan has ended.
  bool next(PageLink& link);

 private:
  PageSearch search_;
  int32_t from_ = 1;
  bool ended_ = false;
};

// The link's name: its name part with every tag ("<" followed by an ASCII
// letter, "/" or "!", up to and including the next ">") removed; blanks stay, and
// a "<" with no ">" after it is no tag and stays. Written into name, which is
// reused so that a scan does not allocate per link.
void link_name(const PageLink& link, std::string& name);

// The name without ASCII white space (tab, LF, VT, FF, CR, blank) and full-width
// blanks (0xA1 0xA1, as whole characters) at either end.
std::string_view trimmed_name(std::string_view name);

// The address of follow page k (2 to 50) of a chapter whose text continues on
// further pages, or the empty Text when there is none. The address is cut
// before its first "?" or "#"; the stem runs to the last "." after its last "/",
// the extension is the rest from that "."; follow page k is stem + "_" + k +
// extension (12.html: 12_2.html). A chapter has no follow pages when no "."
// stands after the last "/", or the "." directly follows the "/".
Text follow_page_address(const char* chapter_address, int32_t k);

// True when page (code page 936, already converted if it declared UTF-8) holds
// a link whose full address, resolved against base_address, is exactly target
// (byte for byte: a fragment or query makes another address). Every link of the
// page is looked at, however many there are.
bool page_links_to(const char* page, const char* base_address, const char* target);
