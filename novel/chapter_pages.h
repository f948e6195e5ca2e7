// Reading chapters as a chapter worker does: each page fetched through the
// download's PaceGate (novel/site_pace.h), fetched again after transient
// failures, and the pages a chapter continues on.
//
// A chapter at address A may go on at A's follow pages (A = .../123.html:
// .../123_2.html, .../123_3.html, up to _50), each read only while the page
// before it links to it. The text of a follow page comes from the block that
// has the same start tag as the first page's; the pages' texts are joined by
// CR LF. A follow page that gives no text after its retries ends the chapter
// there, and the chapter counts as incomplete.
//
// A retry never holds its worker. A page that must wait for its retry puts its
// chapter on the worker's list of pending chapters, with the time it falls
// due; the worker goes on with its next chapter, and takes a pending chapter
// whose time has come before any further new one. When no new chapter is left
// it waits for the earliest pending one. A follow page is due as soon as the
// page before it has been read.
//
// Texts are code page 936; the finished chapter is the name, CR LF, the text
// and CR LF (the name and two line breaks when there is no text). Any number of
// threads may read chapters at once; each must have initialised COM.
#pragma once

#include <cstdint>
#include <functional>

#include "novel/site_pace.h"
#include "runtime/texts.h"
#include "web/fetch_page.h"

// What the pages of one download share: the gate, the retry delays, the clock
// of every wait, and (for tests) the fetch and the random source of the
// delays' spread.
struct PagePace {
  PaceGate& gate;
  RetryDelays delays;
  PaceClock& clock = steady_pace_clock();
  std::function<PageAnswer(const char* address)> fetch = fetch_page_answer;
  double (*random01)() = nullptr;  // 0 to 1; null: a random source per thread
};

struct ChapterPages {
  Text chapter;  // name, CR LF, text, CR LF
  bool has_text = false;
  bool incomplete = false;  // a follow page it links to gave no text
};

inline constexpr int32_t most_chapter_pages = 50;

// A chapter of a worker's share: its number in the Book, its address and name.
struct ChapterToRead {
  int32_t index = 0;
  Text address;
  Text name;
};

// Reads a worker's share. next gives the worker's next new chapter, false when
// none is left; store takes each finished chapter, and returns false when the
// worker must stop at once. Returns false when store did.
bool read_share(PagePace& pace, const std::function<bool(ChapterToRead& chapter)>& next,
                const std::function<bool(int32_t index, ChapterPages chapter)>& store);
