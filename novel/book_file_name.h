// The name of the book file: the current directory, the platform's separator,
// the novel's title made safe for a file name, and ".txt".
//
// The title is code page 936 and is changed character by character, so the
// second byte of a two-byte character is never touched: each of \ / : * ? " < > |
// becomes its full-width form (a title such as "书名：副题" keeps its look),
// bytes below 0x20 become "_", a first byte without a second one (at the end,
// or before a byte below 0x40) becomes "_", trailing dots and blanks are
// dropped, and a reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9,
// alone or before a dot, in any case) gets a leading "_". A title too long for
// one file name is cut at a character boundary (at most 236 bytes once in
// UTF-8 and 236 UTF-16 units, so that with ".txt" and the suffixes below it
// fits every file system). The file always lands in the current directory.
//
// Beside the book stands its state file (novel/book_state.h), the book file's
// name with book_state_suffix; each of the two is written under its name with
// new_copy_suffix first and then put in place of the old one.
#pragma once

#include "runtime/texts.h"

inline constexpr char book_state_suffix[] = ".novelfetch";
inline constexpr char new_copy_suffix[] = ".new";

// The title as it can stand in a file name (without the extension).
Text safe_file_title(const char* title);

// The full name of the book file for title.
Text book_file_name(const char* title);
