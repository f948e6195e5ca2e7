// Fetching a novel's table of contents into the Book, page after page.
//
// The first page is the address the reader typed. Pages are fetched through
// the download's PaceGate (novel/site_pace.h) and fetched again after a
// failure that may pass (no answer, 408, 429, any 5xx), converted from UTF-8
// when they declare it, and read by the table-of-contents parser, which names
// the next page ("下一页") when the table goes on. A page shorter than 1000
// bytes is no table of contents: on the first page that ends the download, on
// a later one it ends the following. At most most_contents_pages are read
// (novel/table_of_contents.h). Then every
// chapter address that stands more than once keeps only its last place.
//
// Runs on the main thread: its waits keep the dialog answering (timed_wait).
#pragma once

#include "novel/site_pace.h"

inline constexpr int32_t shortest_contents_page = 1000;

// Fills Book.title and the chapter lists from the table of contents at address.
// False, with the Book as it was, when the first page cannot be read.
bool download_table_of_contents(const char* address, PaceGate& gate, const RetryDelays& delays = {});
