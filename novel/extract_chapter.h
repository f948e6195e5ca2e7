// Cutting the prose out of a chapter page.
//
// The prose is the first stretch from a "<div" to the next "</div>" (both
// searched ignoring case, at most 500 of them) that is longer than 300 bytes and
// holds more than 600 bytes of 0x80 and above, the bytes of two-byte (Chinese)
// characters. Its markup is then stripped: first the tags ("</p>" and "<br>" in
// their spellings become "<br/>", script and style elements go whole, every
// other tag goes), then nine plain replacements ("&nbsp;" and blanks go, the
// page's own CR LF line ends go, "<br/><br/>" and "<br/>" become line breaks,
// the remaining "<", "br", "/" and ">" go), and the ASCII runs at both ends are
// cut off, so the text begins and ends with a two-byte character. Texts are
// code page 936; pages that declare UTF-8 are converted first. A page without
// such a block gives the empty text.
//
// A chapter split over several pages is read with chapter_text_of for its first
// page, which also names the start tag of the block its text came from, and
// follow_page_text for each further page, which prefers the block with the same
// start tag: sites write every page of a chapter from one template.
//
// Any number of threads may extract at once: each works on its own page, and
// extract_chapter writes only element n of Book.chapter_texts.
#pragma once

#include <cstdint>

#include "runtime/texts.h"

// The chapter text of a searchable page and the start tag of the block it came
// from ("<div" up to the first ">" after it, as in the page); both empty when no
// block passes the thresholds.
struct ChapterPageText {
  Text text;
  Text block_start_tag;
};
ChapterPageText chapter_text_of(const char* page);

// A follow page's text (searchable page): the cleaned, trimmed text of the first
// block of the same scan whose start tag equals block_start_tag byte for byte
// and whose text is not empty, whatever its length; else chapter_text_of(page).text.
Text follow_page_text(const char* page, const char* block_start_tag);

// The chapter text of a whole page as fetched: searchable_page (web/utf8_to_local.h), then
// chapter_text_of(...).text.
Text chapter_text_of_page(Text page);

// The finished chapter: name, CR LF, the text of the page at address, CR LF.
// Initialises COM on the calling thread and fetches the page.
Text read_chapter(const char* address, const char* name);

// Replaces Book.chapter_texts[n] with read_chapter(address, Book.chapter_names[n]).
// n must lie within the lists (a bad index is the runtime's fatal error).
void extract_chapter(const char* address, int32_t n);
