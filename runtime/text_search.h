// The byte-level search kernels behind the text commands (text_commands.h).
//
// Texts are code-page-936 bytes, stepped by the rules of
// platform/code_page_936.h: a lead byte starts a two-byte character (unless the
// terminator follows it), any other byte is a character by itself. The kernels
// here work on byte ranges [begin, end) that hold no terminator; the character
// rules are applied on top of them by character_boundary_at_or_after and
// is_character_boundary, which find the character starts near a position by
// looking back to the nearest byte after which a character starts and stepping
// from there (character_starts_after), instead of stepping from the first byte
// of the text.
//
// Ignoring case folds only "A" to "Z" onto "a" to "z", for every byte (second
// bytes of two-byte characters included).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#define NOVELFETCH_X86 1
// Marks a function that uses SSE2 whatever the build's own target. On i686 the
// stack is realigned on entry, since threads and callbacks started by the
// system may arrive with a stack aligned to 4 bytes only.
#if defined(__i386__)
#define NOVELFETCH_SSE2_FUNCTION __attribute__((target("sse2"), force_align_arg_pointer))
#else
#define NOVELFETCH_SSE2_FUNCTION __attribute__((target("sse2")))
#endif
#endif

// Marks a scan that reads whole aligned blocks or words around a text. The
// bytes it reads beyond the text's ends are never counted, but they may belong
// to a neighbouring block that is free or that another thread is writing: the
// address and thread sanitizers would report those reads, so they leave such a
// scan alone.
#define NOVELFETCH_READS_AROUND_TEXT __attribute__((no_sanitize("address", "thread")))

// True when the processor has SSE2 (probed once at start-up; false until then,
// which selects the portable kernels, so early callers still get right answers).
bool processor_has_sse2();

// Maps "A" to "Z" to "a" to "z" and every other byte to itself.
constexpr std::array<unsigned char, 256> make_lower_case_map() {
  std::array<unsigned char, 256> map{};
  for (int byte = 0; byte < 256; ++byte)
    map[byte] = static_cast<unsigned char>(byte >= 'A' && byte <= 'Z' ? byte + 0x20 : byte);
  return map;
}
inline constexpr std::array<unsigned char, 256> g_lower_case_map = make_lower_case_map();

// The first q in [begin, end - length] at which the length bytes of sought
// match, exactly or ignoring case; end when there is none. length >= 1.
const unsigned char* find_bytes(const unsigned char* begin, const unsigned char* end, const unsigned char* sought,
                                size_t length, bool ignore_case);
// The same without SSE2 (what find_bytes runs on processors that lack it).
const unsigned char* find_bytes_portable(const unsigned char* begin, const unsigned char* end,
                                         const unsigned char* sought, size_t length, bool ignore_case);

// The first q >= from at which the length bytes of sought (none of them zero)
// match, in a text whose length is not known; SIZE_MAX when the terminator
// comes first. from must not lie past the terminator. Only the bytes up to the
// terminator decide, so the cost follows the distance searched, not the text.
size_t find_in_text(const unsigned char* text, size_t from, const unsigned char* sought, size_t length,
                    bool ignore_case);
// The same without SSE2.
size_t find_in_text_portable(const unsigned char* text, size_t from, const unsigned char* sought, size_t length,
                             bool ignore_case);

// True when the length bytes at a and b match, exactly or ignoring case.
bool bytes_match(const unsigned char* a, const unsigned char* b, size_t length, bool ignore_case);

// Offsets below are from text, whose terminator is at offset length. Stepping
// by characters from the character start origin, the first position reached
// that is at or after position (origin <= position <= length).
size_t character_boundary_at_or_after(const unsigned char* text, size_t origin, size_t position, size_t length);
// True when stepping by characters from origin reaches position
// (origin <= position < length).
bool is_character_boundary(const unsigned char* text, size_t origin, size_t position);

// The first match of sought (length >= 1) that starts on a character reached by
// stepping from origin, at or after origin; SIZE_MAX when there is none. This is
// the search of find_text, replace_text and split_text: O(length of the text
// searched), whatever the mix of one- and two-byte characters.
size_t search_characters(const unsigned char* text, size_t text_length, size_t origin, const unsigned char* sought,
                         size_t length, bool ignore_case);
// search_characters in a text whose length is not known (find_in_text).
size_t search_characters_in_text(const unsigned char* text, size_t origin, const unsigned char* sought, size_t length,
                                 bool ignore_case);
