#include "novel/book_file_name.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "page_fixtures.h"
#include "platform/code_pages.h"
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
      // A lead byte at the very end, or before a byte below 0x40, has no
      // second byte; the byte after it is read on its own.
      {"ab\xd5", "ab_"},
      {"\x81?\x81.", "_\xa3\xbf_"},
      {"\x81 ", "_"},
      {"\x81\x01", "__"},
      // 0x80 (the euro sign) and 0xFF are characters by themselves, so what
      // follows them is a character of its own that may need replacing.
      {"\x80/\xff\\", "\x80" + gbk("／") + "\xff" + gbk("＼")},
      {"ab\x80", "ab\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shown(text_bytes(safe_file_title(c.title.c_str()))), shown(c.safe)) << shown(c.title);
  }
  EXPECT_EQ(safe_file_title(nullptr).get(), nullptr);
}

TEST(SafeFileTitle, ALongTitleIsCutToFitOneFileName) {
  std::string chinese;
  for (int i = 0; i < 100; ++i) chinese += gbk("书");
  // Room is left for ".txt.novelfetch.new": 78 two-byte characters take 234
  // bytes in UTF-8; a 79th would pass 236.
  EXPECT_EQ(text_bytes(safe_file_title(chinese.c_str())), chinese.substr(0, 2 * 78));
  const std::string ascii(300, 'a');
  EXPECT_EQ(text_bytes(safe_file_title(ascii.c_str())), ascii.substr(0, 236));
  // A cut that leaves a trailing blank drops it like any other.
  const std::string blank_at_cut = std::string(235, 'a') + " b";
  EXPECT_EQ(text_bytes(safe_file_title(blank_at_cut.c_str())), std::string(235, 'a'));
  // Pairs that the system's table may not know convert to more than one
  // character each; a reserved name gains a "_". Either is still cut to fit.
  std::string unknown;
  for (int i = 0; i < 100; ++i) unknown += "\xfe\xc6";
  const std::string reserved = "con." + std::string(260, 'a');
  for (const std::string& title : {unknown, reserved}) {
    const std::string safe = text_bytes(safe_file_title(title.c_str()));
    EXPECT_LE(platform::local_to_utf8(safe).size(), 236u) << shown(title);
    EXPECT_LE(platform::local_to_utf16(safe).size(), 236u) << shown(title);
  }
  EXPECT_EQ(text_bytes(safe_file_title(reserved.c_str())), "_" + reserved.substr(0, 235));

  // The cut name can be created, here in a folder of the test's own.
  namespace fs = std::filesystem;
  const fs::path previous = fs::current_path();
  const fs::path folder = fs::temp_directory_path() / "novelfetch-long-title";
  fs::remove_all(folder);
  fs::create_directories(folder);
  fs::current_path(folder);
  for (const std::string& title : {chinese, ascii}) {
    const int32_t file = open_file(join(book_file_name(title.c_str()), ".novelfetch.new").get(), 4);
    EXPECT_NE(file, 0) << "the longest name written beside the book";
    close_file(file);
  }
  fs::current_path(previous);
  fs::remove_all(folder);
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
