// Feeds the text commands (runtime/text_commands.h) and to_text (runtime/texts.h).
// Input: byte 0 picks the command, byte 1 holds flags (bit 0: ignore case, or
// case sensitive for replace; bit 1: the position argument is given; bit 2: the
// count argument is given; bit 3: split uses its default separator; bit 4: the
// replacement is left out), bytes 2 to 5 and 6 to 9 are two little-endian
// 32-bit numbers a and b, and the rest holds the text, the sought text and the
// replacement, separated by zero bytes.
//
// Checks: a match found lies inside the text, on a character start where a
// forward search says so, and really matches; the forward and the backward
// search agree on whether there is a match; slices equal the bytes they cut;
// replacing keeps what stands before the start and changes the length by whole
// replacements, no more of them than asked; split's pieces joined by the
// separator give the text back; to_int agrees with strtoll on the half-width
// text and survives to_text; the half-width text is never longer and leaves
// ASCII alone; to_text of a byte set is its bytes.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "runtime/arrays.h"
#include "runtime/text_commands.h"
#include "runtime/text_search.h"

namespace {

constexpr Location fuzz_at = {0x0401ffff, 1};
constexpr size_t header_size = 10;

struct Arguments {
  unsigned command = 0;
  bool flag = false;
  bool position_given = false;
  bool count_given = false;
  bool default_separator = false;
  int32_t a = 0;
  int32_t b = 0;
};

int32_t number_at(const uint8_t* bytes) {
  return static_cast<int32_t>(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                              uint32_t(bytes[3]) << 24);
}

bool matches_at(std::string_view text, size_t at, std::string_view sought, bool ignore_case) {
  return at + sought.size() <= text.size() &&
         bytes_match(reinterpret_cast<const unsigned char*>(text.data()) + at,
                     reinterpret_cast<const unsigned char*>(sought.data()), sought.size(), ignore_case);
}

void check_find(std::string_view text, std::string_view sought, const Arguments& arguments) {
  const OptionalInt start = arguments.position_given ? OptionalInt(arguments.a) : std::nullopt;
  const int32_t found = find_text(text.data(), sought.data(), start, arguments.flag);
  if (found == -1) return;
  FUZZ_CHECK(found >= 1 && size_t(found) <= std::max<size_t>(text.size(), 1));
  if (sought.empty()) return;
  FUZZ_CHECK(matches_at(text, size_t(found) - 1, sought, arguments.flag));
  FUZZ_CHECK(is_character_boundary(reinterpret_cast<const unsigned char*>(text.data()), 0, size_t(found) - 1));
  if (start && *start > 1) FUZZ_CHECK(found >= *start);
  // The backward search steps byte by byte, so it finds this match or a later one.
  if (!start) FUZZ_CHECK(find_text_reverse(text.data(), sought.data(), std::nullopt, arguments.flag) >= found);
}

void check_find_reverse(std::string_view text, std::string_view sought, const Arguments& arguments) {
  const OptionalInt start = arguments.position_given ? OptionalInt(arguments.a) : std::nullopt;
  const int32_t found = find_text_reverse(text.data(), sought.data(), start, arguments.flag);
  if (found == -1) {
    if (!start && !sought.empty())
      FUZZ_CHECK(find_text(text.data(), sought.data(), std::nullopt, arguments.flag) == -1);
    return;
  }
  FUZZ_CHECK(found >= 1);
  if (!sought.empty()) FUZZ_CHECK(matches_at(text, size_t(found) - 1, sought, arguments.flag));
}

// The bytes of text from 0-based first, at most count of them, as the slicing
// commands cut them.
std::string_view slice(std::string_view text, int64_t first, int64_t count) {
  if (first < 0 || count < 1 || first >= int64_t(text.size())) return {};
  return text.substr(size_t(first), size_t(std::min<int64_t>(count, int64_t(text.size()) - first)));
}

void check_slices(std::string_view text, const Arguments& arguments) {
  const char* bytes = text.data();
  FUZZ_CHECK(left_text(bytes, arguments.a).c_str() == slice(text, 0, arguments.a));
  FUZZ_CHECK(right_text(bytes, arguments.a).c_str() ==
             slice(text, int64_t(text.size()) - std::min<int64_t>(arguments.a, int64_t(text.size())), arguments.a));
  FUZZ_CHECK(mid_text(bytes, arguments.a, arguments.b).c_str() == slice(text, int64_t(arguments.a) - 1, arguments.b));
  const int32_t code = char_code_at(bytes, arguments.position_given ? OptionalInt(arguments.a) : std::nullopt);
  const int64_t position = arguments.position_given ? arguments.a : 1;
  const std::string_view byte = slice(text, position - 1, 1);
  FUZZ_CHECK(code == (byte.empty() ? 0 : int32_t(static_cast<signed char>(byte[0]))));
  const Text one_byte = char_from_code(arguments.b);
  FUZZ_CHECK(one_byte.length() == ((arguments.b & 0xFF) != 0 ? 1 : 0));
}

void check_replace(std::string_view text, std::string_view sought, const char* replacement,
                   const Arguments& arguments) {
  const OptionalInt start = arguments.position_given ? OptionalInt(arguments.a) : std::nullopt;
  const OptionalInt count = arguments.count_given ? OptionalInt(arguments.b) : std::nullopt;
  const Text result = replace_text(text.data(), sought.data(), replacement, start, count, arguments.flag);
  const std::string_view replaced = result.c_str();
  const int64_t start_offset = start ? std::clamp<int64_t>(int64_t(*start) - 1, 0, int64_t(text.size())) : 0;
  FUZZ_CHECK(replaced.substr(0, size_t(start_offset)) == text.substr(0, size_t(start_offset)));
  const int64_t change = int64_t(text_length(replacement)) - int64_t(sought.size());
  const int64_t growth = int64_t(replaced.size()) - int64_t(text.size());
  if (sought.empty() || change == 0) {
    FUZZ_CHECK(growth == 0);
    return;
  }
  FUZZ_CHECK(growth % change == 0 && growth / change >= 0);
  if (count) FUZZ_CHECK(growth / change <= std::max<int64_t>(*count, 0));
}

void check_split(std::string_view text, std::string_view separator, const Arguments& arguments) {
  const OptionalInt maximum = arguments.count_given ? OptionalInt(arguments.b) : std::nullopt;
  const Array<Text> pieces = Array<Text>::adopt(split_text(text.data(), separator.data(), maximum));
  const int32_t count = pieces.count();
  std::string joined;
  for (int32_t i = 1; i <= count; ++i) {
    const char* piece = pieces.at(i, fuzz_at);
    if (i > 1) joined.append(separator);
    joined.append(piece ? piece : "");
  }
  if (text.empty()) {
    FUZZ_CHECK(count == 0);
  } else if (maximum) {
    FUZZ_CHECK(count <= std::max(*maximum, 0) && text.starts_with(joined));
  } else {
    // A separator at the very end leaves no empty piece after it.
    FUZZ_CHECK(joined == text || joined + std::string(separator) == text);
  }
}

void check_numbers(std::string_view text, const Arguments& arguments) {
  const int32_t number = to_int(text.data());
  const Text half_width = to_half_width(text.data());
  FUZZ_CHECK(size_t(half_width.length()) <= text.size());
  if (std::all_of(text.begin(), text.end(), [](char byte) { return static_cast<unsigned char>(byte) < 0x80; }))
    FUZZ_CHECK(half_width.c_str() == text);
  const long long parsed = std::strtoll(half_width.c_str(), nullptr, 10);
  FUZZ_CHECK(number == std::clamp<long long>(parsed, INT32_MIN, INT32_MAX));
  FUZZ_CHECK(to_int(to_text(number).get()) == number);

  const int64_t wide = int64_t(uint64_t(uint32_t(arguments.b)) << 32 | uint32_t(arguments.a));
  FUZZ_CHECK(std::strtoll(to_text(cell_int64(wide)).c_str(), nullptr, 10) == wide);
  double real;
  std::memcpy(&real, &wide, sizeof real);
  FUZZ_CHECK(to_text(cell_float64(real)).length() < 400);
  const Text date = to_text(cell_date_time(real));
  double whole;
  std::modf(real, &whole);
  FUZZ_CHECK(date.empty() == !(std::fabs(whole) <= 1e11));
  const ByteSet bytes = ByteSet::adopt(make_byte_set(text.data(), int32_t(text.size())));
  FUZZ_CHECK(to_text(cell_byte_set(bytes.get())).c_str() == text);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  abort_on_message_box();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t header[header_size] = {};
  std::memcpy(header, data, std::min(size, header_size));
  Arguments arguments;
  arguments.command = header[0];
  arguments.flag = (header[1] & 1) != 0;
  arguments.position_given = (header[1] & 2) != 0;
  arguments.count_given = (header[1] & 4) != 0;
  arguments.default_separator = (header[1] & 8) != 0;
  arguments.a = number_at(header + 2);
  arguments.b = number_at(header + 6);
  const std::string_view rest = size > header_size ? input_bytes(data + header_size, size - header_size) : "";
  std::vector<FuzzText> texts = texts_between_zeros(rest);
  texts.resize(std::max<size_t>(texts.size(), 3), FuzzText(""));
  const std::string_view text = texts[0].view();
  const std::string_view sought = texts[1].view();

  switch (arguments.command % 6) {
    case 0: check_find(text, sought, arguments); break;
    case 1: check_find_reverse(text, sought, arguments); break;
    case 2: check_slices(text, arguments); break;
    case 3: check_replace(text, sought, (header[1] & 16) != 0 ? nullptr : texts[2].c_str(), arguments); break;
    case 4: check_split(text, arguments.default_separator ? "," : sought, arguments); break;
    case 5: check_numbers(text, arguments); break;
  }
  return 0;
}
