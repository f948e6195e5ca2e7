#include "web/retry_after.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <string_view>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

// Reads the next run of exactly width digits (any width when width is 0);
// false when the text does not go on so.
bool take_number(std::string_view& text, size_t width, int64_t& number) {
  size_t count = 0;
  number = 0;
  while (count < text.size() && is_digit(text[count]) && (width == 0 || count < width)) {
    if (number < 1000000000000) number = number * 10 + (text[count] - '0');
    ++count;
  }
  if (count == 0 || (width != 0 && count != width)) return false;
  text.remove_prefix(count);
  return true;
}

bool take(std::string_view& text, std::string_view expected) {
  if (!text.starts_with(expected)) return false;
  text.remove_prefix(expected.size());
  return true;
}

bool take_blanks(std::string_view& text) {
  if (text.empty() || !is_blank(text.front())) return false;
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  return true;
}

// A month's three-letter name, as HTTP dates write it; 0 when it is none.
int32_t take_month(std::string_view& text) {
  static constexpr std::array<std::string_view, 12> names = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (size_t i = 0; i < names.size(); ++i)
    if (take(text, names[i])) return static_cast<int32_t>(i) + 1;
  return 0;
}

// Skips a day name, "Sun" or "Sunday": its letters.
bool take_day_name(std::string_view& text) {
  size_t count = 0;
  while (count < text.size() &&
         ((text[count] >= 'A' && text[count] <= 'Z') || (text[count] >= 'a' && text[count] <= 'z')))
    ++count;
  if (count < 3) return false;
  text.remove_prefix(count);
  return true;
}

bool take_time(std::string_view& text, int64_t& hour, int64_t& minute, int64_t& second) {
  return take_number(text, 2, hour) && take(text, ":") && take_number(text, 2, minute) && take(text, ":") &&
         take_number(text, 2, second) && hour < 24 && minute < 60 && second < 61;
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
int64_t days_from_1970(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

bool valid_day(int64_t year, int64_t month, int64_t day) {
  static constexpr int64_t lengths[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > lengths[month - 1]) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month != 2 || day <= 28 || leap;
}

// Seconds since 1970 of an HTTP date in any of its three formats; false when
// the text is none of them:
//   Sun, 06 Nov 1994 08:49:37 GMT     the current format
//   Sunday, 06-Nov-94 08:49:37 GMT    the obsolete one, its year in two digits
//   Sun Nov  6 08:49:37 1994          the C library's asctime
bool http_date(std::string_view text, int64_t& seconds) {
  if (!take_day_name(text)) return false;
  int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (take(text, ",")) {
    take_blanks(text);
    if (!take_number(text, 2, day)) return false;
    if (take(text, "-")) {
      if (!(month = take_month(text)) || !take(text, "-") || !take_number(text, 2, year)) return false;
      // Two-digit years: the nearest century that does not put the date more
      // than fifty years ahead.
      year += year < 70 ? 2000 : 1900;
    } else {
      if (!take_blanks(text) || !(month = take_month(text)) || !take_blanks(text) || !take_number(text, 4, year))
        return false;
    }
    if (!take_blanks(text) || !take_time(text, hour, minute, second) || !take_blanks(text) || !take(text, "GMT"))
      return false;
  } else {
    if (!take_blanks(text) || !(month = take_month(text)) || !take_blanks(text) || !take_number(text, 0, day) ||
        !take_blanks(text) || !take_time(text, hour, minute, second) || !take_blanks(text) ||
        !take_number(text, 4, year))
      return false;
  }
  if (!text.empty() || !valid_day(year, month, day)) return false;
  seconds = days_from_1970(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

}  // namespace

int32_t retry_after_seconds(const char* value, int64_t now) {
  const std::string_view text = trimmed(value ? std::string_view(value) : std::string_view());
  if (text.empty()) return -1;
  int64_t seconds = 0;
  std::string_view digits = text;
  if (is_digit(text.front())) {
    if (!take_number(digits, 0, seconds) || !digits.empty()) return -1;
  } else {
    int64_t when = 0;
    if (!http_date(text, when)) return -1;
    seconds = std::max<int64_t>(0, when - now);
  }
  return static_cast<int32_t>(std::min<int64_t>(seconds, longest_retry_after_seconds));
}

int64_t seconds_since_1970() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}
