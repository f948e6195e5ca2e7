// Reading one chapter as a chapter worker does: its page, fetched again after
// transient failures through the download's PaceGate (novel/site_pace.h), and
// the pages it continues on.
//
// A chapter at address A may go on at A's follow pages (A = .../123.html:
// .../123_2.html, .../123_3.html, up to _50), each read only while the page
// before it links to it. The text of a follow page comes from the block that
// has the same start tag as the first page's; the pages' texts are joined by
// CR LF. A follow page that gives no text after its retries ends the chapter
// there, and the chapter counts as incomplete.
//
// Texts are code page 936; the finished chapter is the name, CR LF, the text
// and CR LF (the name and two line breaks when there is no text). Any number of
// threads may read chapters at once; each must have initialised COM.
#pragma once

#include <cstdint>
#include <random>

#include "novel/site_pace.h"
#include "runtime/texts.h"

// What the pages of one download share: the gate, the retry delays, and the
// random source of the delays' spread (one per thread).
struct PagePace {
  PaceGate& gate;
  RetryDelays delays;
};

struct ChapterPages {
  Text chapter;  // name, CR LF, text, CR LF
  bool has_text = false;
  bool incomplete = false;  // a follow page it links to gave no text
};

inline constexpr int32_t most_chapter_pages = 50;

ChapterPages read_chapter_pages(const char* address, const char* name, PagePace& pace);
