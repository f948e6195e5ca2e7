#include "runtime/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "page_fixtures.h"
#include "platform/files.h"
#include "runtime/memory.h"

namespace {

namespace fs = std::filesystem;

// Each test runs in a fresh directory of its own, which is the current
// directory while it runs.
class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    directory_ = fs::temp_directory_path() /
                 ("novelfetch-files-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    fs::current_path(directory_);
  }
  void TearDown() override {
    close_all_files();
    fs::current_path(previous_);
    fs::remove_all(directory_);
  }

  static std::string content(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  static void put(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

  fs::path previous_;
  fs::path directory_;
};

TEST_F(Files, OpenModes) {
  const struct {
    int32_t mode;
    bool exists;
    bool opens;
    const char* after_writing_xy;  // the file's content afterwards ("-" when it does not exist)
  } cases[] = {
      {4, false, true, "XY"}, {4, true, true, "XY"},     {5, false, true, "XY"},     {5, true, true, "XYcdef"},
      {6, false, true, "XY"}, {6, true, true, "XYcdef"}, {1, false, false, "-"},     {2, false, false, "-"},
      {3, false, false, "-"}, {2, true, true, "XYcdef"}, {3, true, true, "XYcdef"},  {0, false, false, "-"},
      {7, false, false, "-"}, {7, true, true, "XYcdef"}, {-1, true, true, "XYcdef"},
  };
  for (const auto& c : cases) {
    fs::remove("f.txt");
    if (c.exists) put("f.txt", "abcdef");
    const int32_t file = open_file("f.txt", c.mode);
    const std::string context = "mode " + std::to_string(c.mode) + (c.exists ? ", existing" : ", new");
    EXPECT_EQ(file != 0, c.opens) << context;
    write_file(file, cell_text("XY"));
    close_file(file);
    EXPECT_EQ(fs::exists("f.txt") ? content("f.txt") : "-", c.after_writing_xy) << context;
  }
  // Without a mode: reading and writing an existing file.
  EXPECT_EQ(open_file("missing.txt"), 0);
  put("f.txt", "abcdef");
  const int32_t file = open_file("f.txt");
  EXPECT_TRUE(write_file(file, cell_text("XY")));
  close_file(file);
  EXPECT_EQ(content("f.txt"), "XYcdef");
}

TEST_F(Files, ValuesAreWrittenAsText) {
  const struct {
    std::vector<ArgCell> values;
    std::string bytes;
  } cases[] = {
      {{cell_text("ab"), cell_text("cd")}, "abcd"},
      {{cell_int(12), cell_bool(true)}, "12\xd5\xe6"},
      {{cell_bool(false), cell_int(-7)}, "\xbc\xd9-7"},
      {{cell_int64(-1234567890123LL)}, "-1234567890123"},
      {{cell_float64(2.5), cell_text("|"), cell_float64(3.0)}, "2.5|3"},
      {{cell_text(""), cell_text(nullptr)}, ""},
      {{cell_text("a"), cell_byte_set(nullptr), cell_by_address(nullptr, tag_text), cell_text("b")}, "ab"},
      {{cell_text("a\r\n\xd5\xc2\r\n")}, "a\r\n\xd5\xc2\r\n"},
  };
  for (const auto& c : cases) {
    const int32_t file = open_file("f.txt", 4);
    std::vector<ArgCell> cells = {cell_int(file)};
    cells.insert(cells.end(), c.values.begin(), c.values.end());
    EXPECT_TRUE(write_file(static_cast<int32_t>(cells.size()), cells.data())) << shown(c.bytes);
    close_file(file);
    EXPECT_EQ(content("f.txt"), c.bytes) << shown(c.bytes);
  }
}

TEST_F(Files, NumbersThatAreNotOpenFilesAreRefused) {
  const int32_t file = open_file("f.txt", 4);
  ASSERT_NE(file, 0);
  EXPECT_TRUE(write_file(file, cell_text("a")));
  EXPECT_FALSE(write_file(0, cell_text("b")));
  EXPECT_FALSE(write_file(file + 1, cell_text("c")));
  EXPECT_FALSE(write_file(-1, cell_text("d")));
  const ArgCell only_the_number = cell_int(0);
  EXPECT_FALSE(write_file(1, &only_the_number));
  EXPECT_FALSE(write_file(0, nullptr));
  close_file(file);
  EXPECT_FALSE(write_file(file, cell_text("e")));
  close_file(file);  // a second close does nothing
  close_file(0);
  close_file(12345);
  EXPECT_EQ(content("f.txt"), "a");
}

TEST_F(Files, AFileThatCannotBeCreatedWritesNothingAnywhere) {
  for (const char* name : {"missing/f.txt", "", "."}) {
    const int32_t file = open_file(name, 4);
    EXPECT_EQ(file, 0) << name;
    EXPECT_FALSE(write_file(file, cell_text("lost"))) << name;
    close_file(file);
  }
  EXPECT_TRUE(fs::is_empty(directory_));
  fs::create_directory("sub");
  EXPECT_EQ(open_file("sub", 4), 0);
  EXPECT_EQ(open_file("sub", 1), 0);
}

TEST_F(Files, TheShutdownHookClosesEveryFileStillOpen) {
  EXPECT_EQ(g_files_cleanup, nullptr);
  const int32_t first = open_file("a.txt", 4);
  const int32_t second = open_file("b.txt", 4);
  const int32_t third = open_file("c.txt", 4);
  ASSERT_TRUE(first != 0 && second != 0 && third != 0);
  EXPECT_TRUE(first != second && second != third && first != third);
  EXPECT_EQ(g_files_cleanup, &close_all_files);
  close_file(second);
  EXPECT_EQ(g_files_cleanup, &close_all_files);
  EXPECT_TRUE(write_file(first, cell_text("1")));
  EXPECT_TRUE(write_file(third, cell_text("3")));
  g_files_cleanup();
  EXPECT_EQ(g_files_cleanup, nullptr);
  EXPECT_FALSE(write_file(first, cell_text("x")));
  EXPECT_FALSE(write_file(third, cell_text("x")));
  EXPECT_EQ(content("a.txt"), "1");
  EXPECT_EQ(content("c.txt"), "3");
  // Closed for the system too: the files can be removed and made anew.
  fs::remove("a.txt");
  fs::remove("c.txt");
  const int32_t again = open_file("a.txt", 4);
  EXPECT_NE(again, 0);
  close_file(again);
  EXPECT_EQ(g_files_cleanup, nullptr);
}

TEST_F(Files, ChineseNamesAndDirectories) {
  const fs::path chinese = fs::path(u8"书海 小站");
  fs::create_directory(chinese);
  fs::current_path(chinese);
  const std::string directory = text_bytes(current_directory());
  EXPECT_EQ(shown(directory.substr(directory.size() - 9)), shown(gbk("书海 小站"))) << shown(directory);
  const int32_t file = open_file(gbk("第一章：雨.txt").c_str(), 4);
  ASSERT_NE(file, 0);
  EXPECT_TRUE(write_file(file, cell_text("x")));
  close_file(file);
  EXPECT_EQ(content(fs::path(u8"第一章：雨.txt")), "x");
  // A relative name is relative to the current directory.
  fs::current_path(directory_);
  const int32_t nested = open_file(gbk("书海 小站/b.txt").c_str(), 4);
  EXPECT_NE(nested, 0);
  close_file(nested);
  EXPECT_TRUE(fs::exists(chinese / "b.txt"));
}

TEST_F(Files, CurrentDirectoryHasNoSeparatorAtItsEndExceptAtARoot) {
  const std::string here = text_bytes(current_directory());
  ASSERT_FALSE(here.empty());
  EXPECT_NE(here.back(), platform::directory_separator[0]);
  fs::current_path(fs::current_path().root_path());
  const std::string root = text_bytes(current_directory());
  ASSERT_FALSE(root.empty());
  EXPECT_EQ(root.back(), platform::directory_separator[0]) << root;
  fs::current_path(directory_);
}

TEST_F(Files, CurrentDirectoryLongerThanItsRoomIsEmpty) {
  // Two-byte characters make the directory long in code page 936 while it stays
  // short enough for the system (under 260 UTF-16 units on Windows). Each level
  // adds a separator and 40 bytes.
  const fs::path segment(u8"书书书书书书书书书书书书书书书书书书书书");
  fs::path deep = directory_;
  size_t length = text_bytes(current_directory()).size();
  ASSERT_GT(length, 0u);
  for (;;) {
    deep /= segment;
    length += 41;
    fs::create_directory(deep);
    fs::current_path(deep);
    const std::string local = text_bytes(current_directory());
    if (length + 1 > 260) {
      EXPECT_EQ(local, "") << deep.string();
      break;
    }
    EXPECT_EQ(local.size(), length) << deep.string();
  }
  fs::current_path(directory_);
}

}  // namespace
