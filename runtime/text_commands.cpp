#include "runtime/text_commands.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "platform/code_page_936.h"
#include "platform/half_width.h"
#include "runtime/arrays.h"
#include "runtime/memory.h"
#include "runtime/text_search.h"

namespace {

constexpr int32_t k_no_limit = 2147483647;

const unsigned char* bytes_of(const char* text) { return reinterpret_cast<const unsigned char*>(text); }

// Cell i of a command, or an omitted cell when the caller passed fewer.
ArgCell argument(int32_t count, const ArgCell* cells, int32_t i) { return i < count ? cells[i] : cell_omitted(); }
const char* text_argument(int32_t count, const ArgCell* cells, int32_t i) {
  return argument(count, cells, i).address<const char>();
}
OptionalInt optional_int(const ArgCell& cell) { return cell.given() ? OptionalInt(cell.low()) : std::nullopt; }

// The character start where a search from 1-based position start begins: the
// first one at or after start - 1 bytes from the first byte, or the terminator.
size_t search_origin(const char* text, size_t length, OptionalInt start) {
  if (!start || *start <= 1) return 0;
  const size_t wanted = size_t(*start) - 1;
  return character_boundary_at_or_after(bytes_of(text), 0, wanted < length ? wanted : length, length);
}

// The (address, length) pieces of a result, copied once into a block of exactly
// the right size at the end. The list grows on the runtime heap, so no piece is
// ever dropped: running out of memory is fatal instead.
class PieceList {
 public:
  PieceList() = default;
  PieceList(const PieceList&) = delete;
  PieceList& operator=(const PieceList&) = delete;
  ~PieceList() { runtime_free(pieces_); }

  void add(const char* address, size_t length) {
    if (count_ == capacity_) {
      capacity_ = capacity_ == 0 ? 32 : capacity_ * 2;
      pieces_ = static_cast<Piece*>(runtime_realloc(pieces_, capacity_ * sizeof(Piece)));
    }
    pieces_[count_++] = {address, length};
    total_ += length;
  }

  // The pieces joined into a new Text (an allocated empty text when there are none).
  char* join() const {
    char* result = static_cast<char*>(runtime_alloc_raw(checked_text_size(total_)));
    char* end = result;
    for (size_t i = 0; i < count_; ++i) {
      std::memcpy(end, pieces_[i].address, pieces_[i].length);
      end += pieces_[i].length;
    }
    *end = 0;
    return result;
  }

  // One new Text per piece (null for an empty one) in a new one-dimensional Array.
  void* to_array() const {
    const int32_t header[2] = {1, int32_t(count_)};
    auto* block = static_cast<unsigned char*>(runtime_alloc_raw(sizeof header + count_ * sizeof(char*)));
    std::memcpy(block, header, sizeof header);
    for (size_t i = 0; i < count_; ++i) {
      char* element = copy_text_bytes(pieces_[i].address, int32_t(pieces_[i].length));
      std::memcpy(block + sizeof header + i * sizeof(char*), &element, sizeof element);
    }
    return block;
  }

 private:
  struct Piece {
    const char* address;
    size_t length;
  };
  Piece* pieces_ = nullptr;
  size_t count_ = 0;
  size_t capacity_ = 0;
  uint64_t total_ = 0;
};

// Saturates a whole number at the 32-bit limits (NaN gives 0).
int32_t saturate(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return int32_t(value);
}

// atoi of a text: leading blanks, an optional sign, decimal digits up to the
// first other byte; 0 without digits. Beyond 32 bits it saturates.
int32_t parse_decimal(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  int64_t value = 0;
  const int64_t limit = negative ? int64_t(INT32_MAX) + 1 : INT32_MAX;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > limit) value = limit;
  }
  return int32_t(negative ? -value : value);
}

// "／" and "＼" become "/" and "\" at character starts. Returns null when there
// is neither, so that no copy is made in the usual case.
char* replace_full_width_slashes(const char* text, int32_t length) {
  const auto* bytes = bytes_of(text);
  int32_t i = 0;
  while (i < length && !(bytes[i] == 0xA3 && (bytes[i + 1] == 0xAF || bytes[i + 1] == 0xDC))) {
    i += int32_t(character_width_in_text(bytes + i));
  }
  if (i >= length) return nullptr;
  char* copy = static_cast<char*>(runtime_alloc_raw(size_t(length) + 1));
  std::memcpy(copy, text, size_t(i));
  int32_t out = i;
  while (i < length) {
    if (bytes[i] == 0xA3 && (bytes[i + 1] == 0xAF || bytes[i + 1] == 0xDC)) {
      copy[out++] = bytes[i + 1] == 0xAF ? '/' : '\\';
      i += 2;
    } else if (character_width_in_text(bytes + i) == 2) {
      copy[out++] = text[i++];
      copy[out++] = text[i++];
    } else {
      copy[out++] = text[i++];
    }
  }
  copy[out] = 0;
  return copy;
}

}  // namespace

// ---- Searching -------------------------------------------------------------------

int32_t find_text(const char* text, const char* sought, OptionalInt start, bool ignore_case) {
  if (text == nullptr || sought == nullptr || text[0] == 0) return -1;
  if (sought[0] == 0) return 1;
  // Neither the search nor the start needs the length of the text: only the
  // bytes before the start are checked for the terminator, so a search that
  // starts near where the last one ended does not pay for the whole text.
  size_t origin = 0;
  if (start && *start > 1) {
    const int32_t wanted = *start - 1;
    if (text_length_up_to(text, wanted) < wanted || text[wanted] == 0) return -1;
    origin = character_boundary_at_or_after(bytes_of(text), 0, size_t(wanted), SIZE_MAX);
  }
  const size_t found =
      search_characters_in_text(bytes_of(text), origin, bytes_of(sought), size_t(text_length(sought)), ignore_case);
  return found == SIZE_MAX ? -1 : int32_t(found) + 1;
}

int32_t find_text(int32_t count, const ArgCell* cells) {
  return find_text(text_argument(count, cells, 0), text_argument(count, cells, 1),
                   optional_int(argument(count, cells, 2)), argument(count, cells, 3).low() != 0);
}

int32_t find_text_reverse(const char* text, const char* sought, OptionalInt start, bool ignore_case) {
  if (text == nullptr || sought == nullptr || text[0] == 0) return -1;
  if (sought[0] == 0) return 1;
  if (start && *start < 1) return -1;
  const int64_t limit = start ? int64_t(*start) - 1 : k_no_limit;
  const int64_t sought_length = text_length(sought);
  const int64_t length = text_length(text);
  if (sought_length > length) return -1;
  // The backward scan starts at the first character start at or after
  // limit - sought_length, and from there goes back one byte at a time.
  const int64_t wanted = limit - sought_length;
  int64_t from = 0;
  if (wanted > 0) {
    from = int64_t(
        character_boundary_at_or_after(bytes_of(text), 0, size_t(wanted < length ? wanted : length), size_t(length)));
  }
  if (from > length - sought_length) from = length - sought_length;
  const auto* bytes = bytes_of(text);
  const auto* wanted_bytes = bytes_of(sought);
  const unsigned char first = g_lower_case_map[wanted_bytes[0]];
  for (int64_t q = from; q >= 0; --q) {
    const unsigned char byte = bytes[q];
    const bool first_matches = ignore_case ? g_lower_case_map[byte] == first : byte == wanted_bytes[0];
    if (first_matches && bytes_match(bytes + q + 1, wanted_bytes + 1, size_t(sought_length) - 1, ignore_case)) {
      return int32_t(q) + 1;
    }
  }
  return -1;
}

int32_t find_text_reverse(int32_t count, const ArgCell* cells) {
  return find_text_reverse(text_argument(count, cells, 0), text_argument(count, cells, 1),
                           optional_int(argument(count, cells, 2)), argument(count, cells, 3).low() != 0);
}

// ---- Slicing -----------------------------------------------------------------------

Text left_text(const char* text, int32_t n) {
  if (n < 1) return Text();
  return Text::adopt(copy_text_bytes(text, text_length_up_to(text, n)));
}

Text right_text(const char* text, int32_t n) {
  if (n < 1) return Text();
  const int32_t length = text_length(text);
  const int32_t taken = n < length ? n : length;
  return Text::adopt(copy_text_bytes(text + (length - taken), taken));
}

Text mid_text(const char* text, int32_t start, int32_t n) {
  if (start < 1 || n < 1) return Text();
  // Only the bytes up to the last one wanted need to exist.
  const int64_t end = int64_t(start) - 1 + n;
  const int32_t available = text_length_up_to(text, end > INT32_MAX ? INT32_MAX : int32_t(end));
  if (start > available) return Text();
  return Text::adopt(copy_text_bytes(text + (start - 1), available - (start - 1)));
}

char* left_text(int32_t count, const ArgCell* cells) {
  return left_text(text_argument(count, cells, 0), argument(count, cells, 1).low()).release();
}

char* right_text(int32_t count, const ArgCell* cells) {
  return right_text(text_argument(count, cells, 0), argument(count, cells, 1).low()).release();
}

char* mid_text(int32_t count, const ArgCell* cells) {
  return mid_text(text_argument(count, cells, 0), argument(count, cells, 1).low(), argument(count, cells, 2).low())
      .release();
}

// ---- Bytes and numbers ---------------------------------------------------------------

int32_t char_code_at(const char* text, OptionalInt position) {
  const int32_t p = position ? *position : 1;
  if (p < 1 || text == nullptr) return 0;
  if (text_length_up_to(text, p) < p) return 0;
  return int32_t(static_cast<signed char>(text[p - 1]));
}

int32_t char_code_at(int32_t count, const ArgCell* cells) {
  return char_code_at(text_argument(count, cells, 0), optional_int(argument(count, cells, 1)));
}

Text char_from_code(int32_t code) {
  const char byte = static_cast<char>(code & 0xFF);
  return Text::adopt(copy_text_bytes(&byte, byte == 0 ? 0 : 1));
}

char* char_from_code(int32_t count, const ArgCell* cells) {
  return char_from_code(argument(count, cells, 0).low()).release();
}

int32_t to_int(const ArgCell& value) {
  switch (value.tag) {
    case tag_boolean:
    case tag_subroutine:
    case tag_int32: return value.low();
    case tag_int64: {
      const auto number = static_cast<int64_t>(value.value);
      return number > INT32_MAX ? INT32_MAX : number < INT32_MIN ? INT32_MIN : int32_t(number);
    }
    case tag_byte: return value.low() & 0xFF;
    case tag_int16: return int32_t(static_cast<int16_t>(value.value & 0xFFFF));
    case tag_float32: {
      const auto bits = static_cast<uint32_t>(value.value);
      float number;
      std::memcpy(&number, &bits, sizeof number);
      return saturate(std::trunc(double(number)));
    }
    case tag_float64: {
      double number;
      std::memcpy(&number, &value.value, sizeof number);
      return saturate(std::trunc(number));
    }
    case tag_text: {
      const Text half_width = to_half_width(value.address<const char>());
      return half_width.empty() ? 0 : parse_decimal(half_width.c_str());
    }
    default: return 0;
  }
}

int32_t to_int(int32_t count, const ArgCell* cells) { return count < 1 ? 0 : to_int(cells[0]); }

Text to_half_width(const char* text) {
  const int32_t length = text_length(text);
  if (length == 0) return Text();
  const Text replaced = Text::adopt(replace_full_width_slashes(text, length));
  const char* source = replaced.get() != nullptr ? replaced.get() : text;
  const int32_t source_length = replaced.get() != nullptr ? replaced.length() : length;
  // The mapping never lengthens a text; the buffer keeps a terminator after it.
  char* buffer = static_cast<char*>(runtime_alloc(size_t(source_length) + 1));
  const int32_t mapped = platform::map_to_half_width(source, source_length, buffer, source_length + 1);
  Text result = Text::adopt(copy_text_bytes(buffer, text_length_up_to(buffer, mapped)));
  runtime_free(buffer);
  return result;
}

char* to_half_width(int32_t count, const ArgCell* cells) {
  return to_half_width(text_argument(count, cells, 0)).release();
}

int32_t bit_and(int32_t count, const ArgCell* cells) {
  if (count < 1) return 0;
  int32_t result = cells[0].low();
  for (int32_t i = 1; i < count; ++i) result &= cells[i].low();
  return result;
}

// ---- Replacing and splitting -----------------------------------------------------------

Text replace_text(const char* text, const char* sought, const char* replacement, OptionalInt start, OptionalInt count,
                  bool case_sensitive) {
  const int32_t length = text_length(text);
  if (length == 0) return Text();
  const size_t origin = search_origin(text, size_t(length), start);
  const int32_t sought_length = text_length(sought);
  int32_t remaining = count ? *count : k_no_limit;
  if (origin >= size_t(length) || sought_length == 0 || remaining <= 0) return Text::copy_of(text);
  const int32_t replacement_length = text_length(replacement);

  PieceList pieces;
  size_t kept_from = 0;
  size_t search_from = origin;
  for (;;) {
    const size_t found = search_characters(bytes_of(text), size_t(length), search_from, bytes_of(sought),
                                           size_t(sought_length), !case_sensitive);
    if (found == SIZE_MAX) break;
    if (found > kept_from) pieces.add(text + kept_from, found - kept_from);
    if (replacement_length > 0) pieces.add(replacement, size_t(replacement_length));
    kept_from = search_from = found + size_t(sought_length);
    if (--remaining == 0) break;
  }
  if (size_t(length) > kept_from) pieces.add(text + kept_from, size_t(length) - kept_from);
  return Text::adopt(pieces.join());
}

char* replace_text(int32_t count, const ArgCell* cells) {
  return replace_text(text_argument(count, cells, 0), text_argument(count, cells, 1), text_argument(count, cells, 2),
                      optional_int(argument(count, cells, 3)), optional_int(argument(count, cells, 4)),
                      argument(count, cells, 5).low() != 0)
      .release();
}

void* split_text(const char* text, const char* separator, OptionalInt maximum) {
  int32_t remaining = maximum ? *maximum : k_no_limit;
  const int32_t length = text_length(text);
  if (remaining <= 0 || length == 0) return make_empty_array();
  const int32_t separator_length = text_length(separator);
  if (separator_length == 0) remaining = -1;

  PieceList pieces;
  size_t from = 0;
  while (remaining > 0) {
    const size_t found =
        search_characters(bytes_of(text), size_t(length), from, bytes_of(separator), size_t(separator_length), false);
    if (found == SIZE_MAX) break;
    pieces.add(text + from, found - from);
    from = found + size_t(separator_length);
    --remaining;
  }
  if (size_t(length) > from && remaining != 0) pieces.add(text + from, size_t(length) - from);
  return pieces.to_array();
}

void* split_text(int32_t count, const ArgCell* cells) {
  const ArgCell separator = argument(count, cells, 1);
  return split_text(text_argument(count, cells, 0), separator.given() ? separator.address<const char>() : ",",
                    optional_int(argument(count, cells, 2)));
}
