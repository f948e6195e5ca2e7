#include "runtime/texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>

#include "runtime/arrays.h"

namespace {

std::string str(const char* text) { return text == nullptr ? "(null)" : text; }
std::string str(const Text& t) { return str(t.get()); }

ArgCell cell_float32(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return {bits, tag_float32};
}

std::string date_text(double value, bool date_only = false) {
  char buffer[k_date_time_buffer_size];
  format_date_time(buffer, value, date_only);
  return buffer;
}

int days_in_month(int32_t year, int32_t month) {
  static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
  return month == 2 && leap ? 29 : lengths[month - 1];
}
int days_in_year(int32_t year) { return days_in_month(year, 2) == 29 ? 366 : 365; }

// The calendar walk written out year by year and month by month.
void walked_date(int64_t x, int32_t& year, int32_t& month, int32_t& day) {
  int64_t day_of_year;
  if (x >= 0) {
    year = 1899;
    day_of_year = 364 + x;  // 1899-12-30 is day 364 of 1899
    while (day_of_year > days_in_year(year)) day_of_year -= days_in_year(year++);
  } else {
    year = 1899;
    day_of_year = 364 + x;
    while (day_of_year < 1) day_of_year += days_in_year(--year);
  }
  month = 1;
  while (day_of_year > days_in_month(year, month)) day_of_year -= days_in_month(year, month++);
  day = int32_t(day_of_year);
}

}  // namespace

// ---- Length ------------------------------------------------------------------------------

TEST(TextLength, EveryAlignmentAndLengthBothScans) {
  alignas(64) char buffer[192];
  for (int offset = 0; offset < 32; ++offset) {
    for (int length = 0; length < 100; ++length) {
      std::memset(buffer, '\xd6', sizeof buffer);  // non-zero bytes all around the text
      buffer[offset + length] = 0;
      EXPECT_EQ(text_length(buffer + offset), length) << "offset " << offset << " length " << length;
      EXPECT_EQ(text_length_by_words(buffer + offset), length) << "offset " << offset << " length " << length;
    }
  }
  // Bounded: never more than the limit, whatever follows.
  std::memset(buffer, 'a', sizeof buffer);
  buffer[100] = 0;
  for (int offset = 0; offset < 20; ++offset) {
    for (int limit = -1; limit < 110; ++limit) {
      const int expected = std::max(0, std::min(limit, 100 - offset));
      EXPECT_EQ(text_length_up_to(buffer + offset, limit), expected) << "offset " << offset << " limit " << limit;
      EXPECT_EQ(text_length_by_words(buffer + offset, limit), expected) << "offset " << offset << " limit " << limit;
    }
  }
  EXPECT_EQ(text_length_up_to(nullptr, 5), 0);
  // A zero byte just before the start must not be counted as the end.
  std::memset(buffer, 'a', sizeof buffer);
  buffer[16] = 0;
  buffer[40] = 0;
  EXPECT_EQ(text_length(buffer + 17), 23);
  EXPECT_EQ(text_length_by_words(buffer + 17), 23);
}

TEST(TextLength, NullEmptyAndTwoByteCharacters) {
  EXPECT_EQ(text_length(nullptr), 0);
  EXPECT_EQ(text_length_by_words(nullptr), 0);
  EXPECT_EQ(text_length(""), 0);
  EXPECT_EQ(text_length("\xd5\xe6"), 2);  // "真"
  const ArgCell cell = cell_text("abc");
  EXPECT_EQ(text_length(1, &cell), 3);
  // Heap texts of every small length, so the sanitizer build sees the blocks' ends.
  for (int32_t n = 1; n < 40; ++n) {
    const Text t = Text::adopt(make_blank_text(n));
    EXPECT_EQ(t.length(), n);
  }
}

// ---- Making texts ------------------------------------------------------------------------

TEST(MakingTexts, BlanksJoinsCopiesAndByteSets) {
  EXPECT_EQ(make_blank_text(0), nullptr);
  EXPECT_EQ(make_blank_text(-5), nullptr);
  EXPECT_EQ(str(Text::adopt(make_blank_text(3))), "   ");
  const ArgCell three = cell_int(3);
  EXPECT_EQ(str(Text::adopt(make_blank_text(1, &three))), "   ");

  const char* nulls[] = {nullptr, nullptr};
  const Text empty = Text::adopt(join_texts(2, nulls));
  ASSERT_NE(empty.get(), nullptr);
  EXPECT_EQ(empty.get()[0], 0);
  EXPECT_EQ(str(join("a", static_cast<const char*>(nullptr), "\xd6\xd0", Text::copy_of("bc"))),
            "a\xd6\xd0"
            "bc");

  EXPECT_EQ(copy_text_bytes("abc", 0), nullptr);
  EXPECT_EQ(copy_text_bytes("abc", -1), nullptr);
  const Text with_zero = Text::adopt(copy_text_bytes("a\0b", 3));
  EXPECT_EQ(std::memcmp(with_zero.get(), "a\0b\0", 4), 0);
  EXPECT_EQ(Text::copy_of("").get(), nullptr);
  EXPECT_EQ(Text::copy_of(nullptr).get(), nullptr);

  EXPECT_EQ(make_byte_set("ab", 0), nullptr);
  EXPECT_EQ(make_byte_set("ab", -4), nullptr);  // never a block smaller than its header
  const ByteSet bytes = ByteSet::adopt(make_byte_set("a\0c", 3));
  EXPECT_EQ(bytes.size(), 3);
  EXPECT_EQ(std::memcmp(bytes.data(), "a\0c", 3), 0);
  int32_t header[2];
  std::memcpy(header, bytes.get(), sizeof header);
  EXPECT_EQ(header[0], 1);
  EXPECT_EQ(header[1], 3);
  EXPECT_EQ(ByteSet().size(), 0);
  EXPECT_EQ(ByteSet().data(), nullptr);
}

// ---- Value to text -----------------------------------------------------------------------

TEST(ToText, EveryKindOfValue) {
  const int32_t int32_array[] = {1, 2, 65, 66};  // read as bytes: "A", then a zero
  const int32_t zero_array[] = {1, 1, 0};
  const int32_t number_array[] = {1, 1, 65};
  alignas(8) const unsigned char real_array[16] = {1, 0, 0, 0, 1, 0, 0, 0, 'x'};
  struct Case {
    const char* what;
    ArgCell cell;
    const char* expected;  // null: the null Text
  };
  const Case cases[] = {
      {"Boolean 2", cell_bool(true), "\xd5\xe6"},
      {"Boolean holding 2", {2, tag_boolean}, "\xd5\xe6"},
      {"Boolean 0", cell_bool(false), "\xbc\xd9"},
      {"byte 0x1FF", {0x1FF, tag_byte}, "255"},
      {"16-bit 0xFFFF", {0xFFFF, tag_int16}, "-1"},
      {"32-bit", cell_int(-2147483647 - 1), "-2147483648"},
      {"subroutine", {1234, tag_subroutine}, "1234"},
      {"64-bit -1", cell_int64(-1), "-1"},
      {"64-bit lowest", cell_int64(INT64_MIN), "-9223372036854775808"},
      {"64-bit highest", cell_int64(INT64_MAX), "9223372036854775807"},
      {"64-bit zero", cell_int64(0), "0"},
      {"real 2.0", cell_float64(2.0), "2"},
      {"real 1.5", cell_float64(1.5), "1.5"},
      {"real 1234.5", cell_float64(1234.5), "1234.5"},
      {"real 0", cell_float64(0), "0"},
      {"real -0.0000001", cell_float64(-0.0000001), "-0"},
      {"real 100", cell_float64(100), "100"},
      {"real 10.00001", cell_float64(10.00001), "10.00001"},
      {"real infinity", cell_float64(INFINITY), "inf"},
      {"real32 0.1", cell_float32(0.1f), "0.1"},
      {"real32 -2.25", cell_float32(-2.25f), "-2.25"},
      {"date-time", cell_date_time(43609.5),
       "2019\xc4\xea"
       "5\xd4\xc2"
       "24\xc8\xd5"
       "12\xca\xb1"},
      {"date-time NaN", cell_date_time(std::nan("")), nullptr},
      {"text", cell_text("ab"), "ab"},
      {"empty text", cell_text(""), nullptr},
      {"null text", cell_text(nullptr), nullptr},
      {"empty byte set", cell_byte_set(g_empty_array_template), nullptr},
      {"null byte set", cell_byte_set(nullptr), nullptr},
      {"32-bit array", cell_by_address(const_cast<int32_t*>(int32_array), tag_int32), "A"},
      {"32-bit array of zeros", cell_by_address(const_cast<int32_t*>(zero_array), tag_int32), nullptr},
      {"byte array", cell_by_address(const_cast<int32_t*>(number_array), tag_byte), "A"},
      {"64-bit real array", cell_by_address(const_cast<unsigned char*>(real_array), tag_float64), nullptr},
      {"automation object", {0x12345678, tag_automation_object}, nullptr},
      {"omitted", cell_omitted(), nullptr},
  };
  for (const Case& c : cases) {
    const Text result = to_text(c.cell);
    if (c.expected == nullptr)
      EXPECT_EQ(result.get(), nullptr) << c.what << ": " << str(result);
    else
      EXPECT_EQ(str(result), c.expected) << c.what;
  }
  EXPECT_EQ(str(to_text(-42)), "-42");
}

TEST(ToText, ByteSetsAreReadUpToTheirFirstZero) {
  const ByteSet ab_cd = ByteSet::adopt(make_byte_set("ab\0cd", 5));
  EXPECT_EQ(str(to_text(cell_byte_set(ab_cd.get()))), "ab");
  const ByteSet leading_zero = ByteSet::adopt(make_byte_set("\0ab", 3));
  EXPECT_EQ(to_text(cell_byte_set(leading_zero.get())).get(), nullptr);
  // Without a zero byte the text ends with the block; nothing past it is read.
  const ByteSet no_zero = ByteSet::adopt(make_byte_set("xyz", 3));
  EXPECT_EQ(str(to_text(cell_byte_set(no_zero.get()))), "xyz");
  const int32_t negative[] = {1, -3};
  EXPECT_EQ(array_to_text(negative, 1), nullptr);
}

TEST(ToText, HugeRealsFitTheirBuffer) {
  // "%f" of 1e308 is 309 digits: more than a small fixed buffer holds.
  const Text huge = to_text(cell_float64(1e308));
  EXPECT_EQ(huge.length(), 309);
  EXPECT_EQ(huge.c_str()[0], '1');
  const Text lowest = to_text(cell_float64(-1.7976931348623157e308));
  EXPECT_EQ(lowest.length(), 310);
}

TEST(ValueToFileText, MallocedAndWholeWordForNarrowKinds) {
  struct Case {
    const char* what;
    ArgCell cell;
    const char* expected;
  };
  const Case cases[] = {
      {"byte", {0x1FF, tag_byte}, "511"},
      {"16-bit", {0xFFFF, tag_int16}, "65535"},
      {"Boolean", cell_bool(false), "\xbc\xd9"},
      {"real", cell_float64(2.5), "2.5"},
      {"64-bit", cell_int64(-9), "-9"},
      {"date-time", cell_date_time(2.0),
       "1900\xc4\xea"
       "1\xd4\xc2"
       "1\xc8\xd5"},
      {"text", cell_text("abc"), nullptr},
      {"byte set", cell_byte_set(g_empty_array_template), nullptr},
      {"array", cell_by_address(const_cast<int32_t*>(g_one_element_template), tag_int32), nullptr},
      {"unknown", {1, 0x7777}, nullptr},
  };
  for (const Case& c : cases) {
    char* result = value_to_file_text(&c.cell);
    if (c.expected == nullptr)
      EXPECT_EQ(result, nullptr) << c.what;
    else
      EXPECT_EQ(str(result), c.expected) << c.what;
    runtime_free(result);
  }
}

// ---- Dates -------------------------------------------------------------------------------

TEST(DateTime, Examples) {
  struct Case {
    double value;
    bool date_only;
    const char* expected;
  };
  const Case cases[] = {
      {43609.676770833335, false,
       "2019\xc4\xea"
       "5\xd4\xc2"
       "24\xc8\xd5"
       "16\xca\xb1"
       "14\xb7\xd6"
       "33\xc3\xeb"},
      {43609.676770833335, true,
       "2019\xc4\xea"
       "5\xd4\xc2"
       "24\xc8\xd5"},
      {43609.5, false,
       "2019\xc4\xea"
       "5\xd4\xc2"
       "24\xc8\xd5"
       "12\xca\xb1"},
      {43609.0, false,
       "2019\xc4\xea"
       "5\xd4\xc2"
       "24\xc8\xd5"},
      {43609 + 61.0 / 1440, false,
       "2019\xc4\xea"
       "5\xd4\xc2"
       "24\xc8\xd5"
       "1\xca\xb1"
       "1\xb7\xd6"},
      {36526 + 1.0 / 86400, false,
       "2000\xc4\xea"
       "1\xd4\xc2"
       "1\xc8\xd5"
       "0\xca\xb1"
       "0\xb7\xd6"
       "1\xc3\xeb"},
      {-364.0, false,
       "1898\xc4\xea"
       "12\xd4\xc2"
       "31\xc8\xd5"},
      {0.0, false,
       "1899\xc4\xea"
       "12\xd4\xc2"
       "30\xc8\xd5"},
      {1.0, false,
       "1899\xc4\xea"
       "12\xd4\xc2"
       "31\xc8\xd5"},
      {2.0, false,
       "1900\xc4\xea"
       "1\xd4\xc2"
       "1\xc8\xd5"},
      {60.0, false,
       "1900\xc4\xea"
       "2\xd4\xc2"
       "28\xc8\xd5"},
      {61.0, false,
       "1900\xc4\xea"
       "3\xd4\xc2"
       "1\xc8\xd5"},
      {-1.25, false,
       "1899\xc4\xea"
       "12\xd4\xc2"
       "29\xc8\xd5"
       "6\xca\xb1"},
      // Within half a second of the next day: 86400 seconds, "24时" on the same date.
      {0.999996, false,
       "1899\xc4\xea"
       "12\xd4\xc2"
       "30\xc8\xd5"
       "24\xca\xb1"},
      {-657434.0, false,
       "100\xc4\xea"
       "1\xd4\xc2"
       "1\xc8\xd5"},
      {2958465.0, false,
       "9999\xc4\xea"
       "12\xd4\xc2"
       "31\xc8\xd5"},
      {std::nan(""), false, ""},
      {1e300, false, ""},
      {-INFINITY, false, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(date_text(c.value, c.date_only), c.expected) << c.value;
  EXPECT_EQ(str(to_text(cell_date_time(-364.0))),
            "1898\xc4\xea"
            "12\xd4\xc2"
            "31\xc8\xd5");
}

TEST(DateTime, EveryDayAgreesWithTheCalendarWalk) {
  // Anchor a few days on the literal walk, then check every day between
  // 0100-01-01 and 9999-12-31 by counting forward one day at a time.
  for (int64_t x : {-657434, -36525, -366, -1, 0, 1, 2, 59, 60, 61, 366, 43609, 2958465}) {
    int32_t y1, m1, d1, y2, m2, d2;
    days_to_date(x, y1, m1, d1);
    walked_date(x, y2, m2, d2);
    ASSERT_EQ(std::make_tuple(y1, m1, d1), std::make_tuple(y2, m2, d2)) << "day " << x;
  }
  int32_t year, month, day;
  walked_date(-657434, year, month, day);
  for (int64_t x = -657434; x <= 2958465; ++x) {
    int32_t y, m, d;
    days_to_date(x, y, m, d);
    ASSERT_TRUE(y == year && m == month && d == day)
        << "day " << x << ": " << y << "-" << m << "-" << d << " instead of " << year << "-" << month << "-" << day;
    if (++day > days_in_month(year, month)) {
      day = 1;
      if (++month > 12) {
        month = 1;
        ++year;
      }
    }
  }
}
