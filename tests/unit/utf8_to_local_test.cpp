#include "web/utf8_to_local.h"

#include <gtest/gtest.h>

#include <string>

#include "page_fixtures.h"
#include "platform/code_pages.h"

namespace {

namespace code_page = platform::code_page;

std::string hex(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    out += "0123456789abcdef"[c >> 4];
    out += "0123456789abcdef"[c & 15];
    out += ' ';
  }
  return out;
}

std::string converted(const std::string& utf8) { return text_bytes(utf8_to_local(utf8.c_str())); }

// The characters are given as bytes so that this table pins the conversion
// itself (the tables of Windows' code page 936), not a helper built on it.
TEST(Utf8ToLocal, ValidUtf8GivesTheCharactersOfCodePage936) {
  const struct {
    const char* utf8;
    const char* local;
  } cases[] = {
      {"abc", "abc"},
      {"\xe4\xb8\xad", "\xd6\xd0"},                                          // 中
      {"\xe7\xac\xac\xe4\xb8\x80\xe7\xab\xa0", "\xb5\xda\xd2\xbb\xd5\xc2"},  // 第一章
      {"a\r\n\xe4\xb8\xad\nb\tc", "a\r\n\xd6\xd0\nb\tc"},
      {"\xe2\x82\xac", "\x80"},                          // € is the single byte 0x80
      {"\xc2\xb7", "\xa1\xa4"},                          // ·
      {"\xe2\x80\x94", "\xa1\xaa"},                      // —
      {"\xe2\x80\x95", "\xa8\x44"},                      // ―
      {"\xe3\x80\x80", "\xa1\xa1"},                      // ideographic space
      {"\xef\xbc\x9a", "\xa3\xba"},                      // ：
      {"\xe2\x80\x9c\xe2\x80\x9d", "\xa1\xb0\xa1\xb1"},  // “”
      {"\xe4\xb8\x82", "\x81\x40"},                      // 丂, a GBK extension character
  };
  for (const auto& c : cases) EXPECT_EQ(hex(converted(c.utf8)), hex(c.local)) << hex(c.utf8);
}

TEST(Utf8ToLocal, WhatCodePage936CannotShowBecomesTheDefaultCharacter) {
  const struct {
    const char* utf8;
    const char* local;
  } cases[] = {
      {"a\xe0\xb8\x81z", "a?z"},                  // a Thai letter
      {"a\xf0\x9f\x98\x80z", "a?z"},              // an emoji: one "?", though it takes two units
      {"\xe3\x83\xbb\xef\xbf\xbd", "\xa1\xa4?"},  // the katakana middle dot becomes "·"
      // Em spaces become full-width blanks, other spaces blanks; zero-width
      // characters and the byte-order mark go.
      {"\xe2\x80\x83\xe2\x80\x81|\xc2\xa0\xe2\x80\x82\xe2\x80\x8a\xe2\x80\xaf\xe2\x81\x9f|", "\xa1\xa1\xa1\xa1|     |"},
      {"a\xe2\x80\x8b\xe2\x80\x8c\xe2\x80\x8d\xe2\x81\xa0\xef\xbb\xbfz", "az"},
      {"\xea\xb0\x80", "?"},  // a Hangul syllable
      {"a\xff"
       "b",
       "a?b"},  // a byte that is never UTF-8
  };
  for (const auto& c : cases) EXPECT_EQ(hex(converted(c.utf8)), hex(c.local)) << hex(c.utf8);
}

TEST(Utf8ToLocal, InvalidUtf8NeverStopsTheConversion) {
  // How many "?" an ill-formed sequence becomes is the platform's business;
  // the text around it must come through.
  for (const char* bad : {"\xe4\xb8",
                          "\xe4\xb8"
                          "a",
                          "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\x80\x80", "\xf0\x9f\x98", "\xfe\xfe\xff"}) {
    const std::string result = converted(std::string("<") + bad + "\xe4\xb8\xad>");
    ASSERT_GE(result.size(), 4u) << hex(bad);
    EXPECT_EQ(result.front(), '<') << hex(bad);
    EXPECT_EQ(result.substr(result.size() - 3), "\xd6\xd0>") << hex(bad);
    EXPECT_NE(result.find('?'), std::string::npos) << hex(bad);
  }
}

// ---- The steps -----------------------------------------------------------------------------

TEST(TextToUtf16, UnitsWithTheirTerminatingZero) {
  const ByteSet abc = text_to_utf16("abc");
  EXPECT_EQ(hex(std::string(reinterpret_cast<const char*>(abc.data()), abc.size())), "61 00 62 00 63 00 00 00 ");
  const ByteSet han = text_to_utf16("\xd6\xd0", code_page::gbk);
  EXPECT_EQ(hex(std::string(reinterpret_cast<const char*>(han.data()), han.size())), "2d 4e 00 00 ");
  const ByteSet pair = text_to_utf16("\xf0\x9f\x98\x80");
  EXPECT_EQ(hex(std::string(reinterpret_cast<const char*>(pair.data()), pair.size())), "3d d8 00 de 00 00 ");
  EXPECT_EQ(text_to_utf16("").size(), 2);
  EXPECT_EQ(utf8_to_local(nullptr).get(), nullptr);
  EXPECT_EQ(utf8_to_local("").get(), nullptr);
  EXPECT_EQ(text_to_utf16(nullptr).get(), nullptr);
  EXPECT_EQ(text_to_utf16("abc", 12345).get(), nullptr);
}

TEST(Utf16ToText, ReadsUpToTheFirstZeroUnitOrTheEndOfTheByteSet) {
  const char with_zero[] = {0x2d, 0x4e, 0x41, 0x00, 0x00, 0x00, 0x42, 0x00};
  ByteSet units = ByteSet::adopt(make_byte_set(with_zero, sizeof with_zero));
  EXPECT_EQ(text_bytes(utf16_to_text(units)),
            "\xd6\xd0"
            "A");
  // No zero unit, and an odd byte at the end: nothing beyond the set is read.
  const char without_zero[] = {0x41, 0x00, 0x2d, 0x4e, 0x42};
  units = ByteSet::adopt(make_byte_set(without_zero, sizeof without_zero));
  EXPECT_EQ(text_bytes(utf16_to_text(units)), "A\xd6\xd0");
  EXPECT_EQ(utf16_to_text(ByteSet()).get(), nullptr);
  // Another target code page gets its whole result, however long.
  units = text_to_utf16("\xd6\xd0\xd6\xd0\xd6\xd0", code_page::gbk);
  EXPECT_EQ(text_bytes(utf16_to_text(units, code_page::utf8)), "\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad");
}

TEST(MakeBlankBytes, CountsBelowOneGiveNull) {
  EXPECT_EQ(make_blank_bytes(0).get(), nullptr);
  EXPECT_EQ(make_blank_bytes(-5).get(), nullptr);
  const ByteSet three = make_blank_bytes(3);
  ASSERT_EQ(three.size(), 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(three.data()), 3), std::string(3, '\0'));
}

// ---- The declaration test ------------------------------------------------------------------

TEST(DeclaresUtf8, TheThreeFormsInAnyCase) {
  const struct {
    const char* page;
    bool declared;
  } cases[] = {
      {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />", true},
      {"<meta charset=UTF-8>", true},
      {"<meta charset=\"utf-8\">", true},
      {"<meta charset='Utf-8'>", true},
      {"<META CHARSET=\"UTF-8\">", true},
      {"prose that says charset=utf-8 anywhere", true},
      {"<meta charset=gbk><meta charset=utf-8>", true},
      {"<meta charset=gbk>", false},
      {"<meta charset=utf8>", false},
      {"<meta charset = \"utf-8\">", false},
      {"<meta charset=\"utf-16\">", false},
      {"charset=utf-", false},
      {"charset=\"utf-8", false},
      {"charset=", false},
      {"", false},
      // The marker must begin at a character start.
      {"\x81"
       "charset=utf-8",
       false},
      {"\xd6\xd0"
       "charset=utf-8",
       true},
  };
  for (const auto& c : cases) EXPECT_EQ(declares_utf8(c.page), c.declared) << c.page;
  EXPECT_FALSE(declares_utf8(nullptr));
}

// ---- The platform conversions --------------------------------------------------------------

TEST(CodePages, MeasureAndFitLikeTheWindowsCalls) {
  char16_t units[8];
  EXPECT_EQ(platform::multi_byte_to_utf16(code_page::utf8, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(platform::multi_byte_to_utf16(code_page::utf8, "abc", 3, nullptr, 0), 3);
  EXPECT_EQ(platform::multi_byte_to_utf16(code_page::utf8, "abc", -1, units, 3), 0);  // no room for the zero unit
  EXPECT_EQ(platform::multi_byte_to_utf16(code_page::utf8, "abc", -1, units, 4), 4);
  EXPECT_EQ(platform::multi_byte_to_utf16(code_page::system_ansi, "\xd6\xd0", -1, units, 8), 2);
  EXPECT_EQ(units[0], u'\u4e2d');
  EXPECT_EQ(platform::multi_byte_to_utf16(code_page::utf8, nullptr, -1, nullptr, 0), 0);
  char bytes[8];
  const char16_t han[] = {0x4e2d, 0};
  EXPECT_EQ(platform::utf16_to_multi_byte(code_page::gbk, han, -1, nullptr, 0), 3);
  EXPECT_EQ(platform::utf16_to_multi_byte(code_page::gbk, han, -1, bytes, 2), 0);
  EXPECT_EQ(platform::utf16_to_multi_byte(code_page::utf8, han, 1, bytes, 8), 3);
}

}  // namespace
