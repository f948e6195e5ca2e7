// Reading a novel's table of contents into the Book (novel/book.h).
//
// The page is never parsed as a document: every marker is a literal byte
// string of code page 936, matched exactly (case counts), and every cut is made
// at byte positions those searches return. The title is the content of the
// first title element, cut before the first of "最新", "_", "章" and "目". A
// chapter is any link (novel/links.h), anywhere in the page, whose file name
// starts with a page number above 10 (11.html, 0011.html, 345.htm) and whose
// name, trimmed, is not "上一页" or "下一页"; its name is the link's text
// without tags. At most the first 10000 links of a page are looked at.
//
// A table of contents may come in pages: a page's "下一页" link leads to the
// next one, as long as it stays in the first page's directory and leads to a
// page not read yet, up to 200 pages. Chapters are taken in page order; once
// the last page is read, a chapter address that stands more than once keeps
// only its last place (sites list their newest chapters above the full list).
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "runtime/texts.h"

// The most pages one table of contents is read from, the first included.
inline constexpr int32_t most_contents_pages = 200;

// One page, the whole job: replaces Book.title and the three chapter lists with
// this page's chapters, repeated addresses reduced to their last place. address
// is the table-of-contents address as the user typed it; page is the page in
// code page 936. Only an address that holds "://" can place links: with any
// other address the chapter lists stay empty.
void parse_table_of_contents(const char* address, const char* page);

// Reads one page of a table of contents that comes in pages. first_address is
// the address of page 1 as typed, address this page's address, page its text
// (code page 936). With first_page true the title and the three lists are
// replaced, otherwise this page's chapters are appended; an address that stands
// more than once in the page is taken at its last place only. pages_read holds the
// addresses already read, without their "#..." part; this page's address is
// added. Returns the next page's full address (without its "#..." part), or the
// empty Text when there is none, or when pages_read then holds
// most_contents_pages addresses.
Text read_contents_page(const char* first_address, const char* address, const char* page, bool first_page,
                        std::set<std::string>& pages_read);

// After the last page: every chapter address that stands more than once (byte
// for byte) keeps only its last place, with that place's name; its other places
// leave all three lists.
void keep_last_of_repeated_chapters();
