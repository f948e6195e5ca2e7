// UTF-8 pages into code page 936.
//
// Pages that declare UTF-8 arrive from fetch_page as raw UTF-8 bytes, while
// every search of the program works on code-page-936 Texts. utf8_to_local goes
// through UTF-16: the page becomes a ByteSet of UTF-16LE units (the terminating
// zero unit included), which then becomes a 936 Text. Invalid UTF-8 does not
// stop the conversion. Characters that 936 lacks but that pages use for layout
// get a stand-in (local_stand_in); every other one becomes one "?", with no
// look-alike on any platform, a character beyond the BMP included.
// Every result is new and owned by the caller; an empty result is null. No
// shared state: any thread may convert.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/text_commands.h"
#include "runtime/texts.h"

// True when the page declares UTF-8: "charset=utf-8", charset="utf-8" or
// charset='utf-8' anywhere in it, in any case. The download command and the
// chapter extraction decide with this (through searchable_page) whether a
// page needs converting.
bool declares_utf8(const char* page);

// The page (UTF-8) as a new code-page-936 Text; null for an empty page.
Text utf8_to_local(const char* page);

// A fetched page as the program searches it: utf8_to_local of the page when it
// declares UTF-8, else the page itself. Tables of contents and chapter pages
// alike go through it.
Text searchable_page(Text page);

// The UTF-16 unit that stands for the character code (any number, as a numeric
// reference names it) in a code-page-936 text: em spaces (U+2001, U+2003)
// become the full-width blank U+3000; the other spaces (U+00A0, U+2002, U+2004
// to U+200A, U+202F, U+205F) a blank; U+30FB (katakana middle dot) U+00B7; 0
// for the zero-width characters and the byte-order mark (U+200B to U+200D,
// U+2060, U+FEFF), which go; "?" for 0, surrogates and codes beyond the BMP;
// any other code itself.
char16_t local_stand_in(uint32_t code);

// Units (no surrogates, as local_stand_in gives them) in code page 936: each
// unit one character of one or two bytes, "?" for each that 936 lacks.
std::string units_to_local(std::u16string_view units);

// The text in code_page (default UTF-8, 65001) as UTF-16LE units with the
// terminating zero unit; null when the conversion gives nothing.
ByteSet text_to_utf16(const char* text, OptionalInt code_page = std::nullopt);

// The UTF-16LE units of bytes, up to the first zero unit or the end of the byte
// set, in code_page (default the system ANSI code page, which is 936).
Text utf16_to_text(const ByteSet& bytes, OptionalInt code_page = std::nullopt);

// A ByteSet of count zero bytes; null when count < 1.
ByteSet make_blank_bytes(int32_t count);
