#include "runtime/support_modules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "platform/system.h"
#include "runtime/arrays.h"
#include "runtime/memory.h"
#include "unit/fatal_box.h"

namespace {

struct Box {
  std::string text;
  std::string caption;
  uint32_t style;
};
std::vector<Box> g_boxes;

void collect_box(const char* text, const char* caption, uint32_t style) { g_boxes.push_back({text, caption, style}); }

class RuntimeServiceTest : public testing::Test {
 protected:
  void SetUp() override {
    use_threadsafe_death_tests();
    g_boxes.clear();
    platform::g_message_box_observer = collect_box;
  }
  void TearDown() override { platform::g_message_box_observer = nullptr; }
};

// "不支持系统功能函数%d. 请将此信息反馈给作者"
std::string unsupported_text(int32_t code) {
  return "\xb2\xbb\xd6\xa7\xb3\xd6\xcf\xb5\xcd\xb3\xb9\xa6\xc4\xdc\xba\xaf\xca\xfd" + std::to_string(code) +
         ". \xc7\xeb\xbd\xab\xb4\xcb\xd0\xc5\xcf\xa2\xb7\xb4\xc0\xa1\xb8\xf8\xd7\xf7\xd5\xdf";
}

TEST_F(RuntimeServiceTest, AnswersTheInterfaceQueriesAndReservedCodes) {
  struct Case {
    int32_t code;
    intptr_t answer;
  } cases[] = {{1004, 1}, {1005, 4}, {2030, 3}, {2032, 0}, {2033, 0}};
  for (const Case& c : cases) EXPECT_EQ(runtime_service(c.code, 7, 9), c.answer) << c.code;
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(RuntimeServiceTest, UnsupportedCodesShowABoxAndTheProcessGoesOn) {
  for (int32_t code : {2031, 2029, 0, 1, 1003, 1007, 2000, 2005, 2034, -2}) {
    SCOPED_TRACE(code);
    g_boxes.clear();
    EXPECT_EQ(runtime_service(code, 0, 0), 0);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, unsupported_text(code));
    EXPECT_EQ(g_boxes[0].caption, "quillmere");
    EXPECT_EQ(g_boxes[0].style, platform::message_box_icon_error);
  }
}

ArgCell real_cell(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return {bits, tag_float32};
}

TEST_F(RuntimeServiceTest, IntegerOfACellTruncatesRealsTowardZero) {
  struct Case {
    const char* name;
    ArgCell cell;
    intptr_t value;
  } cases[] = {
      {"int", cell_int(-42), -42},
      {"int64 keeps the low 32 bits", cell_int64(0x100000005), 5},
      {"boolean", cell_bool(true), 1},
      {"double", cell_float64(2.9), 2},
      {"negative double", cell_float64(-2.9), -2},
      {"float", real_cell(7.75f), 7},
      {"negative float", real_cell(-0.5f), 0},
      {"double beyond the range", cell_float64(1e20), std::numeric_limits<int32_t>::max()},
      {"double below the range", cell_float64(-1e20), std::numeric_limits<int32_t>::min()},
      {"NaN", cell_float64(std::nan("")), 0},
      {"date-time is not a real here", cell_date_time(0.0), 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(runtime_service(2001, reinterpret_cast<intptr_t>(&c.cell), 0), c.value) << c.name;
}

TEST(CommandLineArguments, FollowTheProgramName) {
  struct Case {
    const char* line;
    const char* arguments;
  } cases[] = {
      {"\"C:\\Program Files\\novelfetch.exe\"", ""},
      {"\"C:\\Program Files\\novelfetch.exe\" one two", "one two"},
      {"\"C:\\x.exe\"  two blanks", " two blanks"},
      {"\"C:\\x.exe\"next", "next"},
      {"novelfetch.exe one two", "one two"},
      {"novelfetch.exe", ""},
      {"novelfetch.exe ", ""},
      {"\"unclosed quote", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_STREQ(command_line_arguments(c.line), c.arguments) << c.line;
}

TEST_F(RuntimeServiceTest, CommandLineServicePointsIntoTheProcessCommandLine) {
  const char* line = platform::get_command_line();
  auto arguments = reinterpret_cast<const char*>(runtime_service(2002, 0, 0));
  EXPECT_EQ(arguments, command_line_arguments(line));
  EXPECT_GE(arguments, line);
  EXPECT_LE(arguments, line + std::strlen(line));
}

TEST(PathFileName, StepsOverTwoByteCharacters) {
  struct Case {
    const char* path;
    const char* name;
  } cases[] = {
      {"C:\\dir\\novelfetch.exe", "novelfetch.exe"},
      {"/usr/bin/novelfetch", "novelfetch"},
      {"novelfetch.exe", "novelfetch.exe"},
      {"C:\\dir\\", ""},
      // "\x95\x5c" is one character whose second byte is '\'.
      {"C:\\\xd0\xa1\xcb\xb5\x95\x5cname.exe", "\xd0\xa1\xcb\xb5\x95\x5cname.exe"},
      {"C:\\\x95\x5c\\name.exe", "name.exe"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_STREQ(path_file_name(c.path), c.name) << c.path;
}

TEST_F(RuntimeServiceTest, PathServicesSplitTheProgramPath) {
  char path[260];
  uint32_t length = platform::get_module_file_name(nullptr, path, sizeof path);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, sizeof path);
  std::string full(path);
  std::string name = path_file_name(path);
  std::string directory = full.substr(0, full.size() - name.size());
  ASSERT_FALSE(name.empty());

  char destination[260] = "untouched";
  auto piece = reinterpret_cast<const char*>(runtime_service(1006, 1, reinterpret_cast<intptr_t>(destination)));
  ASSERT_NE(piece, nullptr);
  EXPECT_EQ(std::string(piece), directory);
  EXPECT_EQ(std::string(destination), directory);
  piece = reinterpret_cast<const char*>(runtime_service(1006, 2001, reinterpret_cast<intptr_t>(destination)));
  EXPECT_EQ(std::string(destination), directory);
  piece = reinterpret_cast<const char*>(runtime_service(1006, 2002, reinterpret_cast<intptr_t>(destination)));
  EXPECT_EQ(std::string(piece), name);
  EXPECT_EQ(std::string(destination), name);
  std::snprintf(destination, sizeof destination, "untouched");
  EXPECT_EQ(runtime_service(1006, 3, reinterpret_cast<intptr_t>(destination)), 0);
  EXPECT_STREQ(destination, "untouched");

  auto without_separator = reinterpret_cast<const char*>(runtime_service(2003, 0, 0));
  ASSERT_NE(without_separator, nullptr);
  EXPECT_EQ(std::string(without_separator), directory.substr(0, directory.size() - 1));
  auto file_name = reinterpret_cast<const char*>(runtime_service(2004, 0, 0));
  ASSERT_NE(file_name, nullptr);
  EXPECT_EQ(std::string(file_name), name);
}

TEST_F(RuntimeServiceTest, MemoryServicesUseTheRuntimeHeap) {
  auto* block = reinterpret_cast<unsigned char*>(runtime_service(2024, 32, 0));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 32; ++i) ASSERT_EQ(block[i], 0) << "byte " << i;
  std::memcpy(block, "kept", 5);
  block = reinterpret_cast<unsigned char*>(runtime_service(2026, reinterpret_cast<intptr_t>(block), 4096));
  EXPECT_STREQ(reinterpret_cast<char*>(block), "kept");
  auto* fresh = reinterpret_cast<unsigned char*>(runtime_service(2026, 0, 8));
  for (int i = 0; i < 8; ++i) ASSERT_EQ(fresh[i], 0) << "byte " << i;
  EXPECT_EQ(runtime_service(2025, reinterpret_cast<intptr_t>(block), 0), 0);
  EXPECT_EQ(runtime_service(2025, reinterpret_cast<intptr_t>(fresh), 0), 0);
  EXPECT_EQ(runtime_service(2025, 0x1234, 0), 0) << "small values are ignored";
}

TEST_F(RuntimeServiceTest, FreesArrayValuesByElementType) {
  Array<Text> texts = Array<Text>::empty();
  texts.append("one");
  texts.append("two");
  EXPECT_EQ(runtime_service(2023, intptr_t(tag_text), reinterpret_cast<intptr_t>(texts.release())), 0);
  Array<int32_t> numbers = Array<int32_t>::empty();
  numbers.append(5);
  EXPECT_EQ(runtime_service(2023, intptr_t(tag_int32), reinterpret_cast<intptr_t>(numbers.release())), 0);
  // Unknown element types are left alone; so are constant arrays and null.
  Array<int32_t> kept = Array<int32_t>::empty();
  kept.append(9);
  EXPECT_EQ(runtime_service(2023, intptr_t(tag_variant), reinterpret_cast<intptr_t>(kept.block())), 0);
  EXPECT_EQ(kept.at(1, Location{0x04010001, 1}), 9);
  EXPECT_EQ(runtime_service(2023, intptr_t(tag_text), reinterpret_cast<intptr_t>(g_one_element_template)), 0);
  EXPECT_EQ(runtime_service(2023, intptr_t(tag_text), 0), 0);
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(RuntimeServiceTest, AModuleErrorShowsItsTextAndEndsTheProcess) {
  EXPECT_EXIT(
      {
        observe_boxes_on_stderr();
        runtime_service(2027, reinterpret_cast<intptr_t>("\xb3\xf6\xb4\xed"), 0);  // "出错"
      },
      testing::ExitedWithCode(0),
      expected_box("ERROR", "Quillmere RunTime Error:\r\n\r\n\xb3\xf6\xb4\xed", platform::message_box_icon_error));
  EXPECT_EXIT(runtime_service(2028, 17, 0), testing::ExitedWithCode(17), "");
}

ArgCell g_command_seen_cells[2];
int32_t g_command_seen_count = 0;

void sample_command(ArgCell* result, int32_t count, const ArgCell* cells) {
  EXPECT_EQ(result->value, 0u);
  EXPECT_EQ(result->tag, 0u);
  g_command_seen_count = count;
  for (int32_t i = 0; i < count && i < 2; ++i) g_command_seen_cells[i] = cells[i];
  result->value = 0x100000007;
  result->tag = tag_int64;
}

TEST(CallModuleCommand, PassesTheCellsAndReturnsTheResultCell) {
  ArgCell cells[] = {cell_int(3), cell_text("x")};
  ArgCell result = call_module_command(sample_command, 2, cells);
  EXPECT_EQ(g_command_seen_count, 2);
  EXPECT_EQ(g_command_seen_cells[0].low(), 3);
  EXPECT_EQ(g_command_seen_cells[1].address<const char>(), cells[1].address<const char>());
  EXPECT_EQ(result.value, 0x100000007u);
  EXPECT_EQ(result.tag, uint32_t(tag_int64));
}

}  // namespace
