// The runtime's value model, shared by every module.
//
// A Text is a NUL-terminated string of code-page-936 bytes held in one block of
// the runtime heap (memory.h); null is the empty text. A ByteSet is a counted
// byte buffer laid out like a one-dimensional Array of bytes: a 32-bit dimension
// count (always 1), a 32-bit byte count, then the bytes; null is empty. An Array
// is one block: a 32-bit dimension count n, n 32-bit sizes, then the elements,
// packed (pointer-sized for Text and ByteSet elements, which the array owns).
// Positions and lengths are 1-based byte counts; a search that finds nothing
// gives -1.
//
// Runtime commands take an argument count and that many ArgCells. Program code
// reaches them through typed front doors, and owns what they return through the
// move-only handles below, so every block belongs to exactly one variable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

// The type code of an ArgCell.
enum TypeTag : uint32_t {
  tag_omitted = 0,
  tag_boolean = 0x80000002,
  tag_date_time = 0x80000003,
  tag_text = 0x80000004,
  tag_byte_set = 0x80000005,
  tag_subroutine = 0x80000006,
  tag_byte = 0x80000101,
  tag_int16 = 0x80000201,
  tag_int32 = 0x80000301,
  tag_int64 = 0x80000401,
  tag_float32 = 0x80000501,
  tag_float64 = 0x80000601,
  tag_automation_object = 0x10030,
  tag_variant = 0x10031,
  // Added to a tag: the cell holds the address of a value or of the caller's variable.
  tag_by_address = 0x20000000,
};

// One argument of a runtime command: a 64-bit value (a number, or the address of
// a value or variable) and its type tag. An omitted optional argument is all zero.
struct ArgCell {
  uint64_t value = 0;
  uint32_t tag = tag_omitted;

  bool given() const { return tag != tag_omitted; }
  int32_t low() const { return static_cast<int32_t>(static_cast<uint32_t>(value)); }
  template <typename T>
  T* address() const {
    return reinterpret_cast<T*>(static_cast<uintptr_t>(value));
  }
};

inline ArgCell cell_omitted() { return {}; }
inline ArgCell cell_bool(bool v) { return {v ? 1u : 0u, tag_boolean}; }
inline ArgCell cell_int(int32_t v) { return {static_cast<uint64_t>(static_cast<uint32_t>(v)), tag_int32}; }
inline ArgCell cell_int64(int64_t v) { return {static_cast<uint64_t>(v), tag_int64}; }
ArgCell cell_float64(double v);
ArgCell cell_date_time(double v);
// A Text cell holds the text's address (null for the empty text).
inline ArgCell cell_text(const char* text) { return {reinterpret_cast<uintptr_t>(text), tag_text}; }
inline ArgCell cell_byte_set(const void* byte_set) { return {reinterpret_cast<uintptr_t>(byte_set), tag_byte_set}; }
// A flagged cell: the address of the caller's variable, whose type is tag.
inline ArgCell cell_by_address(void* variable, uint32_t tag) {
  return {reinterpret_cast<uintptr_t>(variable), tag | tag_by_address};
}

// The location pair of a raising site: the routine code (0x04010000 plus the
// routine's number) and the statement offset inside it. Both are constants.
struct Location {
  int32_t routine;
  int32_t statement;
};
