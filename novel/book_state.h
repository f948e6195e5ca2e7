// The state file beside a book, and how a later download of the same table of
// contents uses it: it takes the chapters it already has and fetches only the
// others, and it never loses a chapter text it had.
//
// The state file is named as the book file with ".novelfetch" appended. It
// holds the table-of-contents address and, for each chapter of the book in
// book order: its full address, whether it was complete (no follow page it
// linked to was missing), its text as its pages gave it (before the title
// echo and the site lines are taken out) and whether it had text in the book
// as written. Texts and addresses are code page 936, stored byte for byte.
//
// Format, version 1. Integers are unsigned 32-bit little-endian.
//
//   magic       16 bytes "novelfetch state"
//   version     1
//   records, each: kind, payload length L, L bytes of payload, and the CRC-32
//   (the polynomial of zlib and PNG) of the kind, the length and the payload:
//     kind 1, contents: the table-of-contents address. Exactly one, first.
//     kind 2, chapter:  one flag byte (1: complete, 2: had text in the book),
//                       the address length A, A bytes of address, then the
//                       text (the rest of the payload).
//     kind 3, end:      the number of chapter records. Last; nothing follows.
//
// A file is used only when it is whole: the magic and the version match, every
// record's checksum holds, the end record stands last with the right count.
// A file cut short, damaged, of another version or of another table of
// contents is ignored (the download runs as a whole one and writes a new one).
//
// Both the book and the state file are written in one step: to the name with
// ".new" appended, flushed to the disk, then put in place of the old file, so
// each is always either the old file or the whole new one.
#pragma once

#include <cstdint>
#include <list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One chapter as the state file records it. The views point into the bytes of
// the BookState (or of the download that saves it).
struct ChapterState {
  std::string_view address;
  std::string_view text;
  bool complete = true;
  bool had_text = false;
};

struct BookState {
  std::string bytes;  // the file as read; the views below point into it
  std::string_view contents_address;
  std::vector<ChapterState> chapters;
};

// The state file for contents_address and chapters as the parts to write in
// order: the texts and addresses are not copied (parts points into them and
// into heads, which holds the bytes between them).
struct StateParts {
  std::list<std::string> heads;  // a list: parts point into its strings
  std::vector<std::string_view> parts;
};
StateParts book_state_parts(std::string_view contents_address, std::span<const ChapterState> chapters);

// The state file's bytes for contents_address and chapters.
std::string encode_book_state(std::string_view contents_address, std::span<const ChapterState> chapters);

// Reads a state file's bytes (moved into state.bytes); false, with state
// empty, when they are not a whole state file of this version.
bool decode_book_state(std::string bytes, BookState& state);

// What a download does with each chapter of the table of contents, given the
// state of the last one.
struct ChapterPlan {
  int32_t previous = -1;  // the chapter's place in the state (from 0), -1 when new
  bool taken = false;     // taken from the state, not fetched
};

// Plans the chapters at addresses (in book order): a chapter that stands in
// state, was complete and had text in the book is taken, unless it stood at
// one of the state's last three places (sites put placeholders there first).
std::vector<ChapterPlan> plan_chapters(const BookState& state, std::span<const std::string_view> addresses);

// A chapter's text and complete flag.
struct ChapterText {
  std::string_view text;
  bool complete = true;
};

// The text a fetched chapter keeps: what it gave now, unless that is empty and
// the last download had text (which stays), or it is incomplete and the last
// download's text is longer. The complete flag goes with the text kept.
ChapterText kept_chapter_text(ChapterText fetched, const ChapterState* previous);

// The state of the last download of a book, planned against the Book's table
// of contents: read on the main thread once the table of contents is read.
struct PreviousDownload {
  std::string contents_address;
  BookState state;                    // empty when there was no usable state file
  std::vector<ChapterPlan> chapters;  // one per chapter of the Book, in order
  int32_t taken = 0;                  // chapters taken, not fetched
};

// Reads the state file beside the book file of g_book and plans its chapters
// for a download of contents_address. A missing or unusable file, or one of
// another table of contents, plans a whole download.
PreviousDownload read_previous_download(const char* contents_address);

// The state file's name for the book file book_file.
std::string book_state_file_name(std::string_view book_file);

// Writes parts, in order, to the file name in one step (see above); false, with
// the old file as it was and no new copy left behind, when any step fails.
bool write_file_in_one_step(const std::string& name, std::span<const std::string_view> parts);
