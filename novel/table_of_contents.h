// Reading a novel's table-of-contents page into the Book (novel/book.h).
//
// The page is never parsed as a document: every marker is a literal byte
// string of code page 936, matched exactly (case counts), and every cut is made
// at byte positions those searches return. The title is the content of the
// first title element, cut before the first of "最新", "_", "章" and "目". A
// chapter is any link, anywhere in the page, whose file name starts with a
// page number above 10 (11.html, 0011.html, 345.htm); links are taken in page
// order, nothing is sorted or deduplicated, and at most the first 10000 "href="
// are looked at.
#pragma once

// Replaces Book.title and the three chapter lists. address is the
// table-of-contents address as the user typed it (it gives the site root and
// directory that "/"-rooted and relative links are joined to); page is the page
// in code page 936. Only an address that holds "://" can place links: with
// any other address the chapter lists stay empty.
void parse_table_of_contents(const char* address, const char* page);
