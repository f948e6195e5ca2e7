// Conversions between byte code pages and UTF-16, shaped like the Windows
// calls MultiByteToWideChar and WideCharToMultiByte (no flags, no default
// character given), and the converters the platform layer uses at the
// operating-system boundary.
//
// Texts inside the program are code page 936 on every system: the "system ANSI
// code page" (code page 0) is 936 here, whatever language the machine runs.
// Both directions never fail on bad input: a byte sequence that is not valid
// in its code page becomes U+FFFD, and a character that the target code page
// cannot show becomes that code page's default character, "?". Windows uses
// its own tables; Linux uses iconv for code page 936 and a decoder of its own
// for UTF-8, and gives the same characters for valid input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

namespace code_page {
constexpr uint32_t system_ansi = 0;  // stands for 936
constexpr uint32_t gbk = 936;
constexpr uint32_t utf8 = 65001;
}  // namespace code_page

// Converts length bytes of text (-1: up to and including its terminating zero)
// from code_page to UTF-16. With capacity 0 nothing is written and the result
// is the number of units needed; otherwise at most capacity units are written
// and the result is the number written. 0 when text is null, length is 0, the
// code page is unknown or the units do not fit.
int32_t multi_byte_to_utf16(uint32_t code_page, const char* text, int32_t length, char16_t* units, int32_t capacity);

// The reverse: length units (-1: up to and including the first zero unit) into
// bytes of code_page, with the same measuring and failure rules.
int32_t utf16_to_multi_byte(uint32_t code_page, const char16_t* units, int32_t length, char* bytes, int32_t capacity);

// utf16_to_multi_byte without best fit: every character that code_page lacks
// becomes "?", where Windows would otherwise write a look-alike of some of them.
// iconv has no best fit, so on Linux both are the same.
int32_t utf16_to_multi_byte_exact(uint32_t code_page, const char16_t* units, int32_t length, char* bytes,
                                  int32_t capacity);

// Convenience forms for the operating-system boundary (no terminator inside).
std::u16string local_to_utf16(std::string_view local);
std::string utf16_to_local(std::u16string_view units);
std::string local_to_utf8(std::string_view local);
std::string utf8_to_local_string(std::string_view utf8);

}  // namespace platform
