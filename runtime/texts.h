// Text and ByteSet values, their basic operations, and value-to-text conversion.
//
// Raw form: a Text is a char* to a NUL-terminated block of the runtime heap (null
// is empty); a ByteSet is a void* to {int32 1, int32 count, bytes} (null is empty).
// Every command returns a new block that its caller owns; an empty result is null
// (join_texts always allocates). Program code holds these through the move-only
// handles Text and ByteSet, which free their block with runtime_free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "runtime/memory.h"
#include "runtime/values.h"

// ---- Owning handles ------------------------------------------------------

class Text {
 public:
  Text() = default;
  ~Text() { runtime_free(block_); }
  Text(Text&& other) noexcept : block_(other.release()) {}
  Text& operator=(Text&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;

  // Takes ownership of a block from the runtime heap (or of null).
  static Text adopt(char* block) {
    Text t;
    t.block_ = block;
    return t;
  }
  // A new copy of a NUL-terminated string (null for null or "").
  static Text copy_of(const char* text);

  const char* c_str() const { return block_ ? block_ : ""; }
  // The block, null for the empty text. Only a writable handle gives a
  // writable block, so a const Text& cannot be filled.
  const char* get() const { return block_; }
  char* get() { return block_; }
  // The address of the variable, for by-reference cells and commands that
  // replace the value in place. The old value is owned by whoever replaces it.
  char** variable() { return &block_; }
  char* release() { return std::exchange(block_, nullptr); }
  void reset(char* block = nullptr) { runtime_free(std::exchange(block_, block)); }
  int32_t length() const;
  bool empty() const { return block_ == nullptr || block_[0] == 0; }

 private:
  char* block_ = nullptr;
};

class ByteSet {
 public:
  ByteSet() = default;
  ~ByteSet() { runtime_free(block_); }
  ByteSet(ByteSet&& other) noexcept : block_(other.release()) {}
  ByteSet& operator=(ByteSet&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ByteSet(const ByteSet&) = delete;
  ByteSet& operator=(const ByteSet&) = delete;

  static ByteSet adopt(void* block) {
    ByteSet b;
    b.block_ = block;
    return b;
  }
  // The block, null for the empty byte set; writable through a writable handle only.
  const void* get() const { return block_; }
  void* get() { return block_; }
  void** variable() { return &block_; }
  void* release() { return std::exchange(block_, nullptr); }
  void reset(void* block = nullptr) { runtime_free(std::exchange(block_, block)); }
  // The byte count and the bytes; 0 and null for the empty byte set.
  int32_t size() const;
  const unsigned char* data() const;

 private:
  void* block_ = nullptr;
};

// ---- Raw operations --------------------------------------------------------

// Byte count before the terminating zero; 0 for null. Scans 16 bytes at a time
// where the processor has SSE2.
int32_t text_length(const char* text);
int32_t text_length(int32_t count, const ArgCell* cells);  // command form
// min(text_length(text), limit), reading no further than needed to tell.
int32_t text_length_up_to(const char* text, int32_t limit);
// text_length_up_to by aligned 4-byte words: what text_length does without SSE2.
int32_t text_length_by_words(const char* text, int32_t limit = INT32_MAX);
// The block size for a text of length bytes and its terminator. A length beyond
// the 32-bit range gives SIZE_MAX, which no allocation can satisfy, so asking
// for it takes the out-of-memory path instead of wrapping around.
size_t checked_text_size(uint64_t length);

// n blanks and a terminator; null when n < 1.
char* make_blank_text(int32_t n);
char* make_blank_text(int32_t count, const ArgCell* cells);  // command form

// The pieces joined in order (null pieces count as empty); always a new block.
char* join_texts(int32_t count, const char* const* pieces);
template <typename... Pieces>
Text join(const Pieces&... pieces);

// A new Text of count bytes (copied unchanged) and a terminator; null when count < 1.
char* copy_text_bytes(const void* bytes, int32_t count);
// A new ByteSet holding a copy of count bytes; null when count is 0.
void* make_byte_set(const void* bytes, int32_t count);

// Any typed value as a new Text (null for what has no text form).
char* to_text(int32_t count, const ArgCell* cells);
inline Text to_text(const ArgCell& cell) { return Text::adopt(to_text(1, &cell)); }
inline Text to_text(int32_t number) { return to_text(cell_int(number)); }

// The raw memory of an array block read as text, up to its first zero byte.
char* array_to_text(const void* block, int32_t element_size);

// to_text for write_file, as a new Text; Text, ByteSet, array and unknown
// cells give null.
char* value_to_file_text(const ArgCell* cell);

// The date text of a date-time value ("%d年%d月%d日" and the time, unless
// date_only) in a buffer of k_date_time_buffer_size bytes. A value whose whole
// part lies beyond 1e11 days, and NaN, give the empty text.
constexpr size_t k_date_time_buffer_size = 64;
void format_date_time(char* buffer, double value, bool date_only);
// Drops trailing zeros of a "%f" text, and its point when nothing follows it.
void trim_fraction_zeros(char* number);
// year, month, day of a whole-day count from 1899-12-30.
void days_to_date(int64_t days, int32_t& year, int32_t& month, int32_t& day);

// ---- Front doors -----------------------------------------------------------

inline int32_t Text::length() const { return text_length(block_); }

inline const char* text_piece(const Text& t) { return t.get(); }
inline const char* text_piece(const char* t) { return t; }

template <typename... Pieces>
Text join(const Pieces&... pieces) {
  const char* list[] = {text_piece(pieces)...};
  return Text::adopt(join_texts(static_cast<int32_t>(sizeof...(Pieces)), list));
}
