// Text search, slicing, replacement, splitting, byte access and integer conversion.
//
// All work on code-page-936 Texts: a lead byte (platform/code_page_936.h) starts
// a two-byte character. Forward searches step by whole characters, so a match never begins
// on a second byte; the start position is rounded up to the next character
// boundary counted from the first byte. Slicing is byte-wise. Positions are
// 1-based, -1 means "not found", and every returned Text is new (null if empty).
//
// Each command exists in its cell form (count, cells: optional arguments are
// tested by their tag) and as a typed front door; std::nullopt stands for an
// argument that is left out.
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/texts.h"
#include "runtime/values.h"

using OptionalInt = std::optional<int32_t>;

// First occurrence of sought at or after start; true ignore_case folds A-Z only.
int32_t find_text(const char* text, const char* sought, OptionalInt start = std::nullopt, bool ignore_case = false);
int32_t find_text(int32_t count, const ArgCell* cells);

// Last occurrence (scanning back byte by byte), limited by start when given.
int32_t find_text_reverse(const char* text, const char* sought, OptionalInt start = std::nullopt,
                          bool ignore_case = false);
int32_t find_text_reverse(int32_t count, const ArgCell* cells);

Text left_text(const char* text, int32_t n);
Text right_text(const char* text, int32_t n);
Text mid_text(const char* text, int32_t start, int32_t n);
char* left_text(int32_t count, const ArgCell* cells);
char* right_text(int32_t count, const ArgCell* cells);
char* mid_text(int32_t count, const ArgCell* cells);

// The byte at position (default 1) sign-extended; 0 outside the text.
int32_t char_code_at(const char* text, OptionalInt position = std::nullopt);
int32_t char_code_at(int32_t count, const ArgCell* cells);

// A one-byte Text of the code's low byte; null when that byte is 0.
Text char_from_code(int32_t code);
char* char_from_code(int32_t count, const ArgCell* cells);

// Any value as a 32-bit integer; texts through to_half_width and atoi,
// saturating at the 32-bit limits.
int32_t to_int(const ArgCell& value);
inline int32_t to_int(const char* text) { return to_int(cell_text(text)); }
int32_t to_int(int32_t count, const ArgCell* cells);

// Full-width ASCII forms and the ideographic space to their ASCII counterparts.
Text to_half_width(const char* text);
char* to_half_width(int32_t count, const ArgCell* cells);

// Every occurrence (or the first count) from start on replaced; note that
// case_sensitive true means case must match. A null replacement deletes.
Text replace_text(const char* text, const char* sought, const char* replacement = nullptr,
                  OptionalInt start = std::nullopt, OptionalInt count = std::nullopt, bool case_sensitive = false);
char* replace_text(int32_t count, const ArgCell* cells);

// The pieces between separators (default ","), as a new Array of Text (never null).
void* split_text(const char* text, const char* separator = ",", OptionalInt maximum = std::nullopt);
void* split_text(int32_t count, const ArgCell* cells);

// The first value AND-ed with every further one.
int32_t bit_and(int32_t count, const ArgCell* cells);
