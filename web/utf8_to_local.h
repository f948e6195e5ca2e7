// UTF-8 pages into code page 936.
//
// Pages that declare UTF-8 arrive from fetch_page as raw UTF-8 bytes, while
// every search of the program works on code-page-936 Texts. utf8_to_local goes
// through UTF-16: the page becomes a ByteSet of UTF-16LE units (the terminating
// zero unit included), which then becomes a 936 Text. Invalid UTF-8 does not
// stop the conversion, and characters that 936 cannot show become "?".
// Every result is new and owned by the caller; an empty result is null. No
// shared state: any thread may convert.
#pragma once

#include <cstdint>

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

// The text in code_page (default UTF-8, 65001) as UTF-16LE units with the
// terminating zero unit; null when the conversion gives nothing.
ByteSet text_to_utf16(const char* text, OptionalInt code_page = std::nullopt);

// The UTF-16LE units of bytes, up to the first zero unit or the end of the byte
// set, in code_page (default the system ANSI code page, which is 936).
Text utf16_to_text(const ByteSet& bytes, OptionalInt code_page = std::nullopt);

// A ByteSet of count zero bytes; null when count < 1.
ByteSet make_blank_bytes(int32_t count);
