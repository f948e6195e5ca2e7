#include "novel/book_file_name.h"

#include <gtest/gtest.h>

#include <string>

#include "page_fixtures.h"
#include "platform/files.h"
#include "runtime/files.h"

namespace {

TEST(SafeFileTitle, CharactersThatFileNamesCannotHold) {
  const struct {
    std::string title;
    std::string safe;
  } cases[] = {
      {gbk("青石记"), gbk("青石记")},
      {gbk("书名：副题"), gbk("书名：副题")},
      {"a\\b/c:d*e?f\"g<h>i|j", gbk("a＼b／c：d＊e？f＂g＜h＞i｜j")},
      {gbk("书名:副题?"), gbk("书名：副题？")},
      {"a\x01"
       "b\tc\x1f",
       "a_b_c_"},
      {"abc. . ", "abc"},
      {"a.b", "a.b"},
      {" lead", " lead"},
      {"...", ""},
      {"", ""},
      {"CON", "_CON"},
      {"con", "_con"},
      {"Con.txt", "_Con.txt"},
      {"PRN", "_PRN"},
      {"aux.x.y", "_aux.x.y"},
      {"NUL.", "_NUL"},
      {"AUX ", "_AUX"},
      {"COM1", "_COM1"},
      {"lpt9.abc", "_lpt9.abc"},
      {"COM0", "COM0"},
      {"COM10", "COM10"},
      {"CONX", "CONX"},
      {"xCON", "xCON"},
      {"CON x", "CON x"},
      // Second bytes are never touched, even when they look like one of the
      // characters above.
      {"\x81\\\x81|\x81@", "\x81\\\x81|\x81@"},
      {"\x81?\x81.", "\x81?\x81."},
      {"\x81 ", "\x81 "},
      {"\x81\x01", "\x81\x01"},
      // A lead byte at the very end has no second byte.
      {"ab\xd5", "ab_"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shown(text_bytes(safe_file_title(c.title.c_str()))), shown(c.safe)) << shown(c.title);
  }
  EXPECT_EQ(safe_file_title(nullptr).get(), nullptr);
}

TEST(BookFileName, TheCurrentDirectoryTheSafeTitleAndTxt) {
  const std::string directory = text_bytes(current_directory());
  ASSERT_FALSE(directory.empty());
  const std::string separator = platform::directory_separator;
  EXPECT_EQ(text_bytes(book_file_name(gbk("书名：副题").c_str())), directory + separator + gbk("书名：副题.txt"));
  EXPECT_EQ(text_bytes(book_file_name("a/b")), directory + separator + gbk("a／b.txt"));
  EXPECT_EQ(text_bytes(book_file_name("")), directory + separator + ".txt");
  EXPECT_EQ(text_bytes(book_file_name(nullptr)), directory + separator + ".txt");
}

}  // namespace
