// The byte-level rules of the program's texts, in one place: which bytes of
// code page 936 start a two-byte character, how to step over characters, and
// the layout of a ByteSet block.
//
// Characters follow Windows' own rule for code page 936 (what IsDBCSLeadByteEx
// answers): a byte of 0x81 to 0xFE is a lead byte and takes the byte after it
// into its character, whatever that byte is; every other byte, 0x80 and 0xFF
// included, is a character by itself. A lead byte with nothing after it (at the
// end of a range, or just before a text's terminator) is a character by itself
// too, so stepping never leaves the bytes it was given.
//
// No lead byte is below 0x80, so a byte below 0x80 either is a character or
// ends one, and the byte after it always starts a character. Scans that need a
// character start near some position look back to such a byte instead of
// stepping from the start of the text (character_starts_after).
//
// The conversions of the code page (Windows' and iconv's alike) take a lead
// byte and the byte after it as one character only when that byte is 0x40 or
// above (is_second_byte); before a lower byte they read the lead byte alone and
// keep the lower byte as it is. Code that must know what a conversion will make
// of bytes (the book's file name) steps by that rule: converted_character_width.
//
// Some rules elsewhere count "bytes of 0x80 and above" (the bytes two-byte
// characters are made of, whichever half they are); those counts are about
// bytes, not characters, and do not use the lead-byte test.
//
// A ByteSet block is {int32 dimension count (always 1), int32 byte count,
// bytes}; the runtime's ByteSet handle and the automation bridges read and
// write it only through the accessors here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// True for a byte that starts a two-byte character of code page 936.
constexpr bool is_lead_byte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }
constexpr bool is_lead_byte(char byte) { return is_lead_byte(static_cast<unsigned char>(byte)); }

// The width (1 or 2) of the character that starts at offset at of a range of
// length bytes (at < length).
constexpr size_t character_width(const unsigned char* bytes, size_t at, size_t length) {
  return is_lead_byte(bytes[at]) && at + 1 < length ? 2 : 1;
}
inline size_t character_width(const char* bytes, size_t at, size_t length) {
  return character_width(reinterpret_cast<const unsigned char*>(bytes), at, length);
}

// The width of the character that starts at p in a NUL-terminated text (p is
// not at the terminator).
constexpr size_t character_width_in_text(const unsigned char* p) { return is_lead_byte(p[0]) && p[1] != 0 ? 2 : 1; }
inline size_t character_width_in_text(const char* p) {
  return character_width_in_text(reinterpret_cast<const unsigned char*>(p));
}

// True when all eight bytes of word (eight bytes of a text loaded in one go, in
// either byte order) are lead bytes: every byte has its high bit, and none is
// 0x80 or 0xFF. Eight lead bytes in a row that start on a character start pair
// up into four whole characters, so a scan may step over them at once.
constexpr bool all_lead_bytes(uint64_t word) {
  constexpr uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u, lows = 0x7F7F7F7F7F7F7F7Fu;
  auto has_zero_byte = [](uint64_t bytes) { return ((bytes - ones) & ~bytes & highs) != 0; };
  const uint64_t low_bits = word & lows;  // 0 for a byte 0x80, 0x7F for 0xFF
  return (word & highs) == highs && !has_zero_byte(low_bits) && !has_zero_byte(low_bits ^ lows);
}

// True when a character always starts right after byte: a byte below 0x80.
constexpr bool character_starts_after(unsigned char byte) { return byte < 0x80; }
// The same for eight bytes loaded in one go: true when any of them is such a byte.
constexpr bool character_starts_after_any(uint64_t word) { return (word & 0x8080808080808080u) != 0x8080808080808080u; }

// True for a byte that the code page's conversions take as the second byte of
// a character after a lead byte: 0x40 and above. Below it are the control
// bytes, the blank, digits and marks such as "/", which stay themselves.
constexpr bool is_second_byte(unsigned char byte) { return byte >= 0x40; }

// The width of the character at p in a NUL-terminated text as the conversions
// read it: 2 for a lead byte followed by a second byte, else 1 (a lead byte
// before the terminator or before a byte below 0x40 is read alone).
constexpr size_t converted_character_width(const unsigned char* p) {
  return is_lead_byte(p[0]) && is_second_byte(p[1]) ? 2 : 1;
}

// ---- ByteSet blocks ----

inline constexpr size_t byte_set_header_size = 2 * sizeof(int32_t);

// The byte count of a ByteSet block; 0 for null (and for a negative count,
// which no block of ours holds).
inline int32_t byte_set_count(const void* block) {
  if (block == nullptr) return 0;
  int32_t count;
  std::memcpy(&count, static_cast<const unsigned char*>(block) + sizeof(int32_t), sizeof count);
  return count < 0 ? 0 : count;
}

// The bytes of a ByteSet block (block not null).
inline unsigned char* byte_set_bytes(void* block) { return static_cast<unsigned char*>(block) + byte_set_header_size; }
inline const unsigned char* byte_set_bytes(const void* block) {
  return static_cast<const unsigned char*>(block) + byte_set_header_size;
}

// Writes the header of a ByteSet block of count bytes at block, which has room
// for byte_set_header_size + count bytes.
inline void write_byte_set_header(void* block, int32_t count) {
  const int32_t header[2] = {1, count};
  std::memcpy(block, header, sizeof header);
}
