#include "runtime/texts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/code_page_936.h"
#include "runtime/arrays.h"
#include "runtime/text_search.h"

#if defined(NOVELFETCH_X86)
#include <emmintrin.h>
#endif

// ---- Handles -----------------------------------------------------------------

Text Text::copy_of(const char* text) { return Text::adopt(copy_text_bytes(text, text_length(text))); }

int32_t ByteSet::size() const { return byte_set_count(block_); }

const unsigned char* ByteSet::data() const { return block_ == nullptr ? nullptr : byte_set_bytes(block_); }

// ---- Length ------------------------------------------------------------------

namespace {

using AliasedWord = uint32_t __attribute__((may_alias, aligned(4)));

#if defined(NOVELFETCH_X86)
// Reads the aligned 16-byte blocks that hold the text. An aligned block never
// crosses a page, so reading the bytes around the text is safe even though they
// are not part of it; the bytes before the start are masked off, and nothing
// after the first zero byte is counted.
NOVELFETCH_SSE2_FUNCTION NOVELFETCH_READS_AROUND_TEXT size_t length_by_blocks(const char* text, size_t limit) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(text);
  const char* block = reinterpret_cast<const char*>(address & ~uintptr_t(15));
  const __m128i zero = _mm_setzero_si128();
  unsigned mask = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(block)), zero)));
  mask >>= (address & 15);
  size_t scanned = 16 - (address & 15);
  if (mask != 0) return std::min(size_t(__builtin_ctz(mask)), limit);
  while (scanned < limit) {
    block += 16;
    mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(block)), zero)));
    if (mask != 0) return std::min(size_t(block - text) + size_t(__builtin_ctz(mask)), limit);
    scanned += 16;
  }
  return limit;
}
#endif

// Aligned 4-byte words never cross a page either; the bytes after the
// terminator inside the last word are read but never counted.
NOVELFETCH_READS_AROUND_TEXT size_t length_by_words(const char* text, size_t limit) {
  const char* p = text;
  while ((reinterpret_cast<uintptr_t>(p) & 3) != 0) {
    if (size_t(p - text) >= limit || *p == 0) return size_t(p - text);
    ++p;
  }
  for (;;) {
    if (size_t(p - text) >= limit) return limit;
    const uint32_t word = *reinterpret_cast<const AliasedWord*>(p);
    if (((word - 0x01010101u) & ~word & 0x80808080u) != 0) break;
    p += 4;
  }
  while (*p != 0) ++p;
  return std::min(size_t(p - text), limit);
}

size_t length_up_to(const char* text, size_t limit) {
#if defined(NOVELFETCH_X86)
  if (processor_has_sse2()) return length_by_blocks(text, limit);
#endif
  return length_by_words(text, limit);
}

}  // namespace

int32_t text_length_by_words(const char* text, int32_t limit) {
  if (text == nullptr || limit <= 0) return 0;
  return int32_t(length_by_words(text, size_t(limit)));
}

int32_t text_length(const char* text) {
  if (text == nullptr) return 0;
  return int32_t(length_up_to(text, INT32_MAX));
}

int32_t text_length_up_to(const char* text, int32_t limit) {
  if (text == nullptr || limit <= 0) return 0;
  return int32_t(length_up_to(text, size_t(limit)));
}

int32_t text_length(int32_t count, const ArgCell* cells) {
  return count < 1 ? 0 : text_length(cells[0].address<const char>());
}

// ---- Making texts --------------------------------------------------------------

char* make_blank_text(int32_t n) {
  if (n < 1) return nullptr;
  char* text = static_cast<char*>(runtime_alloc_raw(size_t(n) + 1));
  std::memset(text, ' ', size_t(n));
  text[n] = 0;
  return text;
}

char* make_blank_text(int32_t count, const ArgCell* cells) {
  return count < 1 ? nullptr : make_blank_text(cells[0].low());
}

char* join_texts(int32_t count, const char* const* pieces) {
  uint64_t total = 0;
  for (int32_t i = 0; i < count; ++i) total += uint64_t(text_length(pieces[i]));
  char* result = static_cast<char*>(runtime_alloc(checked_text_size(total)));
  char* end = result;
  for (int32_t i = 0; i < count; ++i) {
    const size_t length = size_t(text_length(pieces[i]));
    if (length != 0) std::memcpy(end, pieces[i], length);
    end += length;
  }
  *end = 0;
  return result;
}

char* copy_text_bytes(const void* bytes, int32_t count) {
  if (count < 1) return nullptr;
  char* text = static_cast<char*>(runtime_alloc_raw(size_t(count) + 1));
  std::memcpy(text, bytes, size_t(count));
  text[count] = 0;
  return text;
}

// A negative count copies nothing: it would otherwise size the block below its
// header and copy a huge run of bytes.
void* make_byte_set(const void* bytes, int32_t count) {
  if (count < 1) return nullptr;
  void* block = runtime_alloc_raw(byte_set_header_size + size_t(count));
  write_byte_set_header(block, count);
  std::memcpy(byte_set_bytes(block), bytes, size_t(count));
  return block;
}

size_t checked_text_size(uint64_t length) {
  // Lengths and positions of texts are 32-bit: a longer text cannot exist, and
  // asking for an impossible block takes the out-of-memory path.
  if (length > uint64_t(INT32_MAX) - 1) return SIZE_MAX;
  return size_t(length) + 1;
}

// ---- Value to text -------------------------------------------------------------

namespace {

// The Boolean texts "真" and "假".
const char k_true_text[] = "\xd5\xe6";
const char k_false_text[] = "\xbc\xd9";

// Large enough for "%f" of any double: 309 integer digits, a sign, the point
// and six decimals.
constexpr size_t k_number_buffer_size = 400;

double double_of(const ArgCell& cell) {
  double value;
  std::memcpy(&value, &cell.value, sizeof value);
  return value;
}

float float_of(const ArgCell& cell) {
  const uint32_t bits = static_cast<uint32_t>(cell.value);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// The decimal digits of a 64-bit integer, written without the C library so that
// every platform prints the same.
void format_int64(char* buffer, int64_t value) {
  char digits[24];
  int n = 0;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *buffer++ = '-';
  while (n > 0) *buffer++ = digits[--n];
  *buffer = 0;
}

void format_real(char* buffer, double value) {
  std::snprintf(buffer, k_number_buffer_size, "%f", value);
  trim_fraction_zeros(buffer);
}

// Formats the number kinds into buffer; false for every other tag. The byte and
// 16-bit kinds narrow their value unless whole_word is set.
bool format_number(const ArgCell& cell, char* buffer, bool whole_word) {
  switch (cell.tag) {
    case tag_subroutine:
    case tag_int32: std::snprintf(buffer, k_number_buffer_size, "%d", cell.low()); return true;
    case tag_byte:
      std::snprintf(buffer, k_number_buffer_size, "%d", whole_word ? cell.low() : (cell.low() & 0xFF));
      return true;
    case tag_int16:
      std::snprintf(buffer, k_number_buffer_size, "%d",
                    whole_word ? cell.low() : int32_t(static_cast<int16_t>(cell.value & 0xFFFF)));
      return true;
    case tag_int64: format_int64(buffer, static_cast<int64_t>(cell.value)); return true;
    case tag_float32: format_real(buffer, double(float_of(cell))); return true;
    case tag_float64: format_real(buffer, double_of(cell)); return true;
    default: return false;
  }
}

// The text of the kinds that to_text and value_to_file_text share, in buffer;
// false when the cell is none of them.
bool format_simple_value(const ArgCell& cell, char* buffer, bool whole_word) {
  if (cell.tag == tag_boolean) {
    const char* word = cell.low() != 0 ? k_true_text : k_false_text;
    std::memcpy(buffer, word, std::strlen(word) + 1);
    return true;
  }
  if (cell.tag == tag_date_time) {
    format_date_time(buffer, double_of(cell), false);
    return true;
  }
  return format_number(cell, buffer, whole_word);
}

int32_t array_element_size(uint32_t element_tag) {
  switch (element_tag) {
    case tag_byte: return 1;
    case tag_int16: return 2;
    case tag_int32: return 4;
    case tag_subroutine: return int32_t(sizeof(void*));
    case tag_int64: return 8;
    default: return 0;
  }
}

}  // namespace

char* to_text(int32_t count, const ArgCell* cells) {
  if (count < 1) return nullptr;
  const ArgCell& cell = cells[0];
  if (cell.tag == tag_text) {
    const char* text = cell.address<const char>();
    return copy_text_bytes(text, text_length(text));
  }
  if (cell.tag == tag_byte_set) return array_to_text(cell.address<const void>(), 1);
  if ((cell.tag & tag_by_address) != 0) {
    const int32_t size = array_element_size(cell.tag & ~uint32_t(tag_by_address));
    return size == 0 ? nullptr : array_to_text(cell.address<const void>(), size);
  }
  char buffer[k_number_buffer_size];
  if (!format_simple_value(cell, buffer, false)) return nullptr;
  return copy_text_bytes(buffer, text_length(buffer));
}

char* array_to_text(const void* block, int32_t element_size) {
  if (block == nullptr) return nullptr;
  const int64_t count = array_element_count(block);
  const int64_t bytes = count * int64_t(element_size);
  if (count <= 0 || bytes <= 0) return nullptr;
  const unsigned char* elements = array_elements(block);
  const void* zero = std::memchr(elements, 0, size_t(bytes));
  const int64_t length = zero == nullptr ? bytes : static_cast<const unsigned char*>(zero) - elements;
  return length > INT32_MAX ? nullptr : copy_text_bytes(elements, int32_t(length));
}

char* value_to_file_text(const ArgCell* cell) {
  char buffer[k_number_buffer_size];
  if (!format_simple_value(*cell, buffer, true) || buffer[0] == 0) return nullptr;
  return copy_text_bytes(buffer, int32_t(std::strlen(buffer)));
}

// ---- Numbers and dates -----------------------------------------------------------

void trim_fraction_zeros(char* number) {
  const size_t length = std::strlen(number);
  if (length == 0) return;
  size_t last = length - 1;
  while (number[last] == '0') {
    if (last == 0) return;
    --last;
  }
  number[number[last] == '.' ? last : last + 1] = 0;
}

void days_to_date(int64_t days, int32_t& year, int32_t& month, int32_t& day) {
  // Days from 0000-03-01 of the proleptic Gregorian calendar, counted in 400-year
  // eras of 146097 days, so that the leap day falls at the end of each year.
  const int64_t z = days + 693899;  // 1899-12-30 is day 693899 after 0000-03-01
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t day_of_era = z - era * 146097;
  const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t month_from_march = (5 * day_of_year + 2) / 153;
  day = int32_t(day_of_year - (153 * month_from_march + 2) / 5 + 1);
  month = int32_t(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
  year = int32_t(year_of_era + era * 400 + (month <= 2 ? 1 : 0));
}

void format_date_time(char* buffer, double value, bool date_only) {
  double whole = 0;
  const double fraction = std::modf(value, &whole);
  // Beyond a hundred billion days (some 270 million years) there is no date to
  // show; NaN and the infinities fail the same test.
  if (!(std::fabs(whole) <= 1e11)) {
    buffer[0] = 0;
    return;
  }
  const int32_t seconds = int32_t(std::fabs(fraction) * 86400 + 0.5);
  const int32_t hours = seconds / 3600;
  const int32_t minutes = seconds % 3600 / 60;
  const int32_t rest = seconds % 60;
  int32_t year = 0, month = 0, day = 0;
  days_to_date(static_cast<int64_t>(whole), year, month, day);

  // "%d年%d月%d日", then "%d时%d分%d秒", "%d时%d分" or "%d时".
  const char* format = "%d\xc4\xea%d\xd4\xc2%d\xc8\xd5";
  if (!date_only) {
    if (rest != 0)
      format = "%d\xc4\xea%d\xd4\xc2%d\xc8\xd5%d\xca\xb1%d\xb7\xd6%d\xc3\xeb";
    else if (minutes != 0)
      format = "%d\xc4\xea%d\xd4\xc2%d\xc8\xd5%d\xca\xb1%d\xb7\xd6";
    else if (hours != 0)
      format = "%d\xc4\xea%d\xd4\xc2%d\xc8\xd5%d\xca\xb1";
  }
  std::snprintf(buffer, k_date_time_buffer_size, format, year, month, day, hours, minutes, rest);
}
