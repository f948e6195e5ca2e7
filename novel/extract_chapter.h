// Cutting the prose out of a chapter page.
//
// The page is read once, from start to end, as text and tags, without building
// a document: the containers (div, td, article, section, main and body
// elements) are followed as they open and close, and each one's own text is
// counted: its text outside the containers nested in it, outside links and
// outside script and style elements. The block is the container whose own text
// holds the most bytes of 0x80 and above (the bytes of two-byte characters),
// and more than 600 of them; the first of equal ones. So an ad slot, a date
// line or a spacer nested at the top of the prose does not cut it short, a
// notice before it or a list of links beside it does not win over it, and prose
// in a table cell is found.
//
// The block's content, with every nested container replaced by a line break,
// becomes plain text: paragraph and heading ends and line-break tags become
// line breaks, script and style elements and every other tag go; the
// references of quotes, "<", ">", "&", "&emsp;" and numeric references become
// their characters; "&nbsp;", blanks, tabs and the page's own line ends go; a
// pair of line breaks becomes one; the ASCII white space at both ends goes.
// Texts are code page 936; pages that declare UTF-8 are converted first, and a
// character that 936 lacks becomes its stand-in or "?" (web/utf8_to_local.h).
// A page without such a block, or whose block leaves no byte of 0x80 or above,
// gives the empty text.
//
// A chapter split over several pages is read with chapter_text_of for its first
// page, which also names the start tag of its block, and follow_page_text for
// each further page, which prefers the first container with the same start
// tag: sites write every page of a chapter from one template.
//
// Any number of threads may extract at once: each works on its own page, and
// extract_chapter writes only element n of Book.chapter_texts.
#pragma once

#include <cstdint>

#include "runtime/texts.h"

// The chapter text of a searchable page and the start tag of the block it came
// from (as in the page, from its "<" to its ">"); both empty when the page has
// no block.
struct ChapterPageText {
  Text text;
  Text block_start_tag;
};
ChapterPageText chapter_text_of(const char* page);

// A follow page's text (searchable page): the text of the first container whose
// start tag equals block_start_tag byte for byte and whose text is not empty,
// whatever its score; else chapter_text_of(page).text.
Text follow_page_text(const char* page, const char* block_start_tag);

// The chapter text of a whole page as fetched: searchable_page (web/utf8_to_local.h), then
// chapter_text_of(...).text.
Text chapter_text_of_page(Text page);

// The text without its first line when that line only repeats the chapter's
// name, as many sites begin their prose: the line (up to the first CR LF) and
// the name are compared with blanks, tabs and full-width blanks left out and
// the name's references decoded ("&nbsp;", CR and LF left out of it). The line
// and the empty lines after it go only when a byte of 0x80 or above follows;
// an empty name echoes nothing. Otherwise a copy of the text.
Text without_title_echo(const char* name, const char* text);

// The finished chapter: name, CR LF, the text of the page at address, CR LF.
// Initialises COM on the calling thread and fetches the page.
Text read_chapter(const char* address, const char* name);

// Replaces Book.chapter_texts[n] with read_chapter(address, Book.chapter_names[n]).
// n must lie within the lists (a bad index is the runtime's fatal error).
void extract_chapter(const char* address, int32_t n);
